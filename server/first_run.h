// The start-up tasks of the connection-monitor agent: the first-run notice
// (welcome box, first authentication, browser login, "not valid" box) and
// the credential refresh that exchanges the user name and password typed on
// the account page for a client password.
//
// Threads: the connection monitor's agent thread. Message boxes go through
// AppMessageBox and block this thread only.
#pragma once

#include <functional>

#include "app/agent_registry.h"

// Signs in with a login token held by the user's web browser: 1 when the
// server answered (AuthenticateByToken), -1 when it did not, 0 when no
// usable token was found. The token discovery installs it; without one,
// no browser login is tried.
using BrowserLoginFinder = std::function<int()>;
void SetBrowserLoginFinder(BrowserLoginFinder finder);

// Forgets the signed-in account (settings Username and Password, and any
// pending pair) and remembers that the user signed out (setting
// BrowserLogin = 0 under Settings), so the browser's login token does not
// sign the user in again until the user signs in. False when the settings
// could not be written.
bool SignOut();

// Welcome box on a first run without credentials (setting Notified, bit 0),
// then an authentication. Missing or refused credentials try the browser
// login once, unless the user signed out (SignOut); refused ones, still refused, show "Your KIV
// username or password is not valid.". When the browser login supplies credentials that were
// missing, the play monitor (5 s), the indexer and the folder monitor (10 s) are requested through
// `context`, as after a login typed on the account page.
void FirstRunNotice(const AgentContext& context = AgentContext());

// Exchanges the pending user name and password (when both are held). On
// success the settings Username and Password receive the user name and the
// client password and the play monitor (5 s) and indexer (10 s) are
// requested; on failure the code goes to AuthState (a refusal also empties
// Password). The pair is dropped unless the server did not answer, so a
// later start tries again. The log never shows the password.
void CredentialRefresh(const AgentContext& context);

// How many exchanges CredentialRefresh has made in this process and the
// result of the last one (0 accepted, -2 refused, -3 no answer). Lets a
// caller that handed over credentials learn the server's answer to them.
struct CredentialRefreshOutcome {
  unsigned count = 0;
  int result = 0;
};
CredentialRefreshOutcome LastCredentialRefresh();
