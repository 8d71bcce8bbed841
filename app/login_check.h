// Whether login credentials are available: the Username and Password
// settings (sub-key Settings) are both non-empty. The controller asks
// before it requests the credential-dependent agents, and the Hide button
// before it offers to enter them.
//
// This is the server session's IsLoginAvailable: server/server_session.h
// uses this one, so the rule has one home below both.
//
// Any thread: each call reads the settings afresh.
#pragma once

#include "app/reg_settings.h"

bool IsLoginAvailable(const CRegSettings& settings = AppSettings());
