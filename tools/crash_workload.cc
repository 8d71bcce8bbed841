// crash_workload: a short, real run of the database engine, the settings
// store and the log, for tools/crash-states to record under strace. With
// the data and settings folders of its environment (XDG_DATA_HOME,
// XDG_CONFIG_HOME) it:
//   - chooses MUSIC as the music folder (a settings save) and runs the
//     indexer over it (FILES new records);
//   - counts plays as the play monitor does (the record changed, the file
//     flushed), and only then writes "Now Playing: <path> <count>" to
//     standard output;
//   - reports every record as the transmit agent does (kiv id, reported,
//     the play flag cleared);
//   - saves grouped settings, deletes a record ("Deleting: <path>"
//     first: from then on its plays are no longer expected) and adds one into its slot.
//
//   crash_workload MUSIC FILES
#include <unistd.h>

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
#include "scan/agent_indexer.h"

namespace {

void Say(const std::string& line) {
  const std::string text = line + "\n";
  if (::write(1, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::exit(4);
}

bool Play(KivDB& db, const std::string& path) {
  int count = 0;
  const BOOL counted = db.ModifyEntry(path, [&](DBEntry& record) {
    record.flags |= DBFLAG_PLAYED;
    record.play_count += 1;
    record.played = KivDB::StoredNow();
    count = record.play_count;
    return true;
  });
  if (!counted || !db.Flush()) return false;
  Say("Now Playing: " + path + " " + std::to_string(count));
  return true;
}

bool Transmit(KivDB& db, std::uint64_t first_id) {
  std::uint64_t id = first_id;
  DBEntry entry;
  std::vector<std::string> paths;
  for (std::uint32_t pos = db.GetFirstEntry(&entry, FALSE); pos != 0;
       pos = db.GetNextEntry(&entry, FALSE))
    paths.push_back(EntryPath(entry));
  for (const std::string& path : paths) {
    const std::uint64_t given = id++;
    if (!db.ModifyEntry(path, [given](DBEntry& record) {
          record.kiv_id = given;
          record.flags = (record.flags | DBFLAG_REPORTED) & ~DBFLAG_PLAYED;
          return true;
        }))
      return false;
  }
  return db.Flush() != FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: crash_workload MUSIC FILES\n");
    return 2;
  }
  const std::string music = argv[1];
  const int files = std::atoi(argv[2]);
  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  std::filesystem::create_directories(platform::DataDir());
  AppLog().SetLogFile(platform::DataDir() + "/kivclient.log");
  AppLog().SetLogLevel(LEVEL_INFO);
  AppLog().SetLogModuleMask(MODULE_EVERYTHING);
  std::vector<std::string> songs;
  for (int i = 0; i < files; ++i) {
    songs.push_back(music + "/" + std::to_string(i) + ".mp3");
    std::FILE* f = std::fopen(songs.back().c_str(), "w");
    if (!f) return 3;
    std::fclose(f);
    std::filesystem::resize_file(songs.back(), kDbMinFileSize + i);
  }
  if (!SaveSearchPaths({{music, 1}})) return 3;
  if (!KivDB::Initialise()) return 3;
  // Fills the list of supported extensions that the indexer collects by.
  CTagReaderRef tag_reader;
  {
    AgentIndexerOptions options;
    options.record_sleep_ms = 0;
    options.file_sleep_ms = 0;
    AgentContext context;
    context.kind = AGENT_INDEXER;
    AgentIndexer indexer(context, options);
    indexer.Run();
  }
  KivDB db;
  if (KivDB::ValidCount() != static_cast<DWORD>(files)) return 3;
  for (int i = 0; i < files && i < 3; ++i)
    if (!Play(db, songs[i]) || !Play(db, songs[0])) return 3;
  if (!Transmit(db, 1000)) return 3;
  if (!AppSettings().WriteString(kSubKeySettings, "Username", "crash@example.org") ||
      !AppSettings().WriteString(kSubKeySettings, "Password", "client-password") ||
      !AppSettings().WriteDword(kSubKeySettings, "PreviouslyRun", 1))
    return 3;
  // A record emptied in the middle, its slot taken by the next add, and a
  // play counted in it.
  if (files > 2) {
    Say("Deleting: " + songs[1]);
    if (!db.DeleteEntry(songs[1])) return 3;
    const std::string extra = music + "/extra.mp3";
    std::FILE* f = std::fopen(extra.c_str(), "w");
    if (!f) return 3;
    std::fclose(f);
    std::filesystem::resize_file(extra, kDbMinFileSize);
    if (!db.AddEntry(extra) || !Play(db, extra)) return 3;
  }
  return 0;
}
