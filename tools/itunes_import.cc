// itunes_import: runs the iTunes import once, as the agent does, against
// the database and settings of the current environment (HOME and the XDG
// variables say where they are), and prints what it took. The benchmark
// runs it as a child process to measure the whole program's peak memory.
//
//   itunes_import --library FILE --folder DIR [--index] [--sleep-ms N]
//                 [--log-level N]
//
// --folder becomes the only chosen music folder. --index first adds a
// record for every supported file under it, as the indexer would, so the
// import merges into known records instead of adding them.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/log.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "platform/folders.h"
#include "scan/agent_itunes.h"

int main(int argc, char** argv) {
  std::string library;
  std::string folder;
  bool index = false;
  unsigned sleep_ms = 0;
  DWORD log_level = LEVEL_INFO;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--index") {
      index = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "itunes_import: %s needs a value\n", arg.c_str());
      return 2;
    }
    const char* value = argv[++i];
    if (arg == "--library") {
      library = value;
    } else if (arg == "--folder") {
      folder = value;
    } else if (arg == "--sleep-ms") {
      sleep_ms = static_cast<unsigned>(std::atoi(value));
    } else if (arg == "--log-level") {
      log_level = static_cast<DWORD>(std::atoi(value));
    } else {
      std::fprintf(stderr, "itunes_import: unknown option %s\n", arg.c_str());
      return 2;
    }
  }
  if (library.empty() || folder.empty()) {
    std::fprintf(stderr,
                 "usage: itunes_import --library FILE --folder DIR [--index] "
                 "[--sleep-ms N] [--log-level N]\n");
    return 2;
  }
  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  platform::EnsureDir(platform::DataDir());
  AppLog().SetLogFile(platform::DataDir() + "/kivclient.log");
  AppLog().SetLogLevel(log_level);
  CTagReaderRef tag_reader;
  if (!KivDB::Initialise()) {
    std::fprintf(stderr, "itunes_import: the database cannot be opened\n");
    return 1;
  }
  SearchPathMap folders;
  folders[SearchPathKey(folder)] = 1;
  SaveSearchPaths(folders);

  if (index) {
    KivDB db;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      const std::string path = entry.path().string();
      if (entry.is_regular_file() && IsSupportedFile(path) && !db.LookupEntry(path))
        db.AddEntry(path);
    }
  }
  AgentContext context;
  AgentITunesOptions options;
  options.track_sleep_ms = sleep_ms;
  AgentITunes agent(context, options);
  const auto start = std::chrono::steady_clock::now();
  const int result = agent.ParseItunesHistoryFile(library, FALSE);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("result=%d records=%u seconds=%.3f\n", result, KivDB::ValidCount(), seconds);
  KivDB::Shutdown();
  return result == 1 ? 0 : 1;
}
