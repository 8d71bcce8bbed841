// The service's web pages the interface opens: the user's own page
// ("Launch My KIV") and the home page (the About box's link). Both live on
// the host of the configured server address, so a development server gets
// its own pages.
//
// Any thread (reads the settings).
#pragma once

#include <string>

std::string ServiceHomePage();
std::string MyKivPage();
