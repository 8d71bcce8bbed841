// The program's command line: how it starts (--show, --headless,
// --autostart, or "/show" as the whole line) or which set-up verb it runs
// against the running copy or the settings (--login, --folders, ...).
#pragma once

#include <string>
#include <vector>

enum class CliVerb {
  kNone,
  kLogin,
  kLogout,
  kAddFolder,
  kRemoveFolder,
  kFolders,
  kRescan,
  kStatus
};

struct CommandLineOptions {
  bool show = false;
  bool headless = false;
  // Started with the desktop session: hidden, and quiet when a copy runs.
  bool autostart = false;
  bool help = false;
  bool version = false;
  CliVerb verb = CliVerb::kNone;
  // The verb's argument: the e-mail address or the folder.
  std::string verb_argument;
  // Arguments that are no option of the program.
  std::vector<std::string> unknown;
  // Why the command line cannot be used (unknown option, missing argument,
  // two verbs); empty when it can.
  std::string error;
};

// "/show" (any case) is another spelling of --show. A verb stands alone: it
// cannot be combined with another verb or with a start option, and its
// value is never an option. --show goes with neither --headless nor
// --autostart.
CommandLineOptions ParseCommandLine(const std::vector<std::string>& args);

// The --help text.
std::string UsageText(const char* version);
