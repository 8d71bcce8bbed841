// Whether login credentials are available: the Username and Password
// settings (sub-key Settings) are both non-empty. The controller asks
// before it requests the credential-dependent agents, and the Hide button
// before it offers to enter them.
//
// This is the server session's IsLoginAvailable; it lives here until the
// session exists, which then takes it over (keeping the name and the rule)
// and this file goes.
//
// Any thread: each call reads the settings afresh.
#pragma once

#include "app/reg_settings.h"

bool IsLoginAvailable(const CRegSettings& settings = AppSettings());
