#include "shell/command_line.h"

#include "app/format.h"
#include "platform/text.h"

namespace {

struct VerbName {
  const char* name;
  CliVerb verb;
  bool takes_argument;
};

constexpr VerbName kVerbs[] = {
    {"--login", CliVerb::kLogin, true},          {"--logout", CliVerb::kLogout, false},
    {"--add-folder", CliVerb::kAddFolder, true}, {"--remove-folder", CliVerb::kRemoveFolder, true},
    {"--folders", CliVerb::kFolders, false},     {"--rescan", CliVerb::kRescan, false},
    {"--status", CliVerb::kStatus, false},
};

// An option is never taken as a value: "--login --status" lacks its address.
// (A folder whose name begins with "-" is given as ./-name or --add-folder=-name.)
bool LooksLikeOption(const std::string& arg) {
  return arg.rfind("-", 0) == 0 || platform::AsciiLower(arg) == "/show";
}

const VerbName* FindVerb(const std::string& name) {
  for (const VerbName& verb : kVerbs)
    if (name == verb.name) return &verb;
  return nullptr;
}

}  // namespace

CommandLineOptions ParseCommandLine(const std::vector<std::string>& args) {
  CommandLineOptions options;
  auto fail = [&options](const std::string& text) {
    if (options.error.empty()) options.error = text;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // "--option=value" is the same as "--option value".
    const std::size_t equals = arg.find('=');
    const std::string name = arg.rfind("--", 0) == 0 ? arg.substr(0, equals) : arg;
    // "/show" is the show option's other spelling, in any case.
    if (arg == "--show" || platform::AsciiLower(arg) == "/show") {
      options.show = true;
    } else if (arg == "--headless") {
      options.headless = true;
    } else if (arg == "--autostart") {
      options.autostart = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (const VerbName* verb = FindVerb(name)) {
      if (options.verb != CliVerb::kNone) fail("only one of the set-up options at a time");
      options.verb = verb->verb;
      if (!verb->takes_argument) {
        if (equals != std::string::npos) fail(name + " takes no value");
      } else if (equals != std::string::npos) {
        options.verb_argument = arg.substr(equals + 1);
      } else if (i + 1 < args.size() && !LooksLikeOption(args[i + 1])) {
        options.verb_argument = args[++i];
      } else {
        fail(name + " needs a value");
      }
      if (verb->takes_argument && options.verb_argument.empty()) fail(name + " needs a value");
    } else {
      options.unknown.push_back(arg);
      fail("unknown option " + arg);
    }
  }
  if (options.verb != CliVerb::kNone && (options.show || options.headless || options.autostart))
    fail("a set-up option cannot be combined with --show, --headless or --autostart");
  if (options.show && options.headless)
    fail("--show and --headless do not go together: without a display there is no window");
  if (options.show && options.autostart)
    fail("--show and --autostart do not go together: --autostart starts hidden");
  return options;
}

std::string UsageText(const char* version) {
  return StrFormat(
      "Usage: vornic [--show | /show | --headless | --autostart [--headless]]\n"
      "       vornic --login EMAIL | --logout | --add-folder PATH | --remove-folder PATH\n"
      "       vornic --folders | --rescan | --status | --version | --help\n"
      "Vornic %s: the desktop client of the KIV music-taste service.\n\n"
      "  --show, /show     show the main window at start\n"
      "  --headless        run without a display; stop with SIGINT or SIGTERM\n"
      "  --autostart       start hidden, and do nothing when a copy already runs\n"
      "                    (--headless goes with --autostart; --show with neither)\n\n"
      "Set-up (through the running copy, found through the lock in the data folder;\n"
      "when none runs, in the settings):\n"
      "  --login EMAIL     sign in; the password is asked for without echo, or read\n"
      "                    from standard input\n"
      "  --logout          forget the signed-in account\n"
      "  --add-folder PATH     search PATH for music\n"
      "  --remove-folder PATH  stop searching PATH\n"
      "  --folders         list the music folders\n"
      "  --rescan          search all folders now (needs a running copy)\n"
      "  --status          connection, account, tracks found and reported,\n"
      "                    identification, agents, last update check\n\n"
      "  --version         print the version and exit\n"
      "  --help            print this text and exit\n\n"
      "Exit status: 0 done, 1 failed or refused, 2 wrong option, 3 the server or the\n"
      "running copy could not be reached (or no copy runs for --rescan).\n",
      version);
}
