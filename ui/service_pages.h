// The service's web pages the interface opens: the user's own page
// ("Launch My KIV"), the home page (the About box's link) and the
// registration page. All live on the host of the configured server
// address, so a development server gets its own pages.
//
// Any thread (reads the settings).
#pragma once

#include <string>

std::string ServiceHomePage();
std::string MyKivPage();
// Registration of a new account (the account page's Register button).
std::string RegistrationPage();
