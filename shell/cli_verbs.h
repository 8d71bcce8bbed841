// The set-up options of the command line (--login, --logout, --add-folder,
// --remove-folder, --folders, --rescan, --status). With a copy of the
// program running they are requests over its instance socket, carried out
// by that copy; without one they act on the settings directly (a sign-in
// then asks the server itself). Each prints what happened on standard
// output, or an error on standard error, and gives the exit status.
#pragma once

#include "shell/command_line.h"

// Exit statuses of the set-up options.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitUnreachable = 3;

int RunCliVerb(const CommandLineOptions& options);
