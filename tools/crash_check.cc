// crash_check: judges the crash states that tools/crash-states builds. Each
// STATE folder holds data/ and config/ as a power cut left them, and a file
// "expect" with one "<path> <count>" line per play announced before the cut.
// For each state, one line: "<STATE> ok" or "<STATE> violation: <why>".
//   - the database loads (a repair is allowed), every record in the file is
//     whole and valid, and the header's counts match the records;
//   - every announced play is in the file (its record's play count is at
//     least the count announced);
//   - the program goes on working: a record is added and changed, and the
//     file loads again without a repair.
// Exit status 0 when every state is ok, 1 otherwise.
//
//   crash_check STATE...
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/log.h"
#include "app/reg_settings.h"
#include "db/kiv_db.h"

namespace {

constexpr DWORD kKnownFlags = DBFLAG_VALID | DBFLAG_REPORTED | DBFLAG_IDENTIFIED | DBFLAG_HISTORY |
                              DBFLAG_ITUNESDATA | DBFLAG_PLAYLIST | DBFLAG_MUSICID_INUSE |
                              DBFLAG_PLAYED | DBFLAG_PLAYEDRETRY | DBFLAG_NOTINPATH |
                              DBFLAG_DELETED | DBFLAG_DONTREPORT;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every record of the file whole and valid, the counts as the header says.
std::string CheckRecords() {
  KivDB db;
  DBEntry entry;
  DWORD valid = 0;
  DWORD empty = 0;
  for (std::uint32_t pos = db.GetFirstEntry(&entry, TRUE); pos != 0;
       pos = db.GetNextEntry(&entry, TRUE)) {
    if (!(entry.flags & DBFLAG_VALID)) {
      ++empty;
      continue;
    }
    ++valid;
    const std::string path = EntryPath(entry);
    if (!EntryPathTerminated(entry) || path.empty() || path[0] != '/')
      return "a record at " + std::to_string(pos) + " has no whole path";
    if (entry.flags & ~kKnownFlags) return "a record of " + path + " has unknown flags";
  }
  const std::int64_t length = db.GetLength();
  if (length < static_cast<std::int64_t>(kDbHeaderSize) ||
      (length - kDbHeaderSize) % kDbRecordSize != 0 ||
      static_cast<std::int64_t>(kDbHeaderSize + (valid + empty) * kDbRecordSize) != length)
    return "the file holds a part of a record or a record that is not valid";
  if (valid != KivDB::ValidCount() || empty != KivDB::EmptyCount())
    return "the header's counts differ from the records";
  return {};
}

std::string CheckPlays(const std::string& expect) {
  std::istringstream lines(ReadAll(expect));
  std::string path;
  int count = 0;
  KivDB db;
  while (lines >> path >> count) {
    DBEntry entry;
    if (!db.GetEntry(path, &entry)) return "the announced play of " + path + " has no record";
    if (entry.play_count < count)
      return "the announced play of " + path + " is lost (count " +
             std::to_string(entry.play_count) + ", announced " + std::to_string(count) + ")";
  }
  return {};
}

// Goes on working: a new record, changed, flushed, and a clean load.
std::string CheckWorks(const std::string& state) {
  const std::string song = state + "/after-the-cut.mp3";
  { std::ofstream touch(song); }
  std::filesystem::resize_file(song, kDbMinFileSize);
  {
    KivDB db;
    if (!db.AddEntry(song)) return "a record can not be added after the cut";
    if (!db.ModifyEntry(song,
                        [](DBEntry& e) {
                          e.play_count = 1;
                          return true;
                        }) ||
        !db.Flush())
      return "a record can not be changed after the cut";
  }
  const DWORD valid = KivDB::ValidCount();
  KivDB::Shutdown();
  const std::string log = state + "/check.log";
  const std::size_t before = ReadAll(log).size();
  if (!KivDB::Initialise()) return "the database does not load a second time";
  if (ReadAll(log).find("Repairing DB", before) != std::string::npos)
    return "the file needed a second repair";
  if (KivDB::ValidCount() != valid) return "the second load counts other records";
  return {};
}

std::string Check(const std::string& state) {
  ::setenv("XDG_DATA_HOME", (state + "/data").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (state + "/config").c_str(), 1);
  std::filesystem::create_directories(state + "/data/kiv");
  AppLog().SetLogFile(state + "/check.log");
  if (!KivDB::Initialise()) return "the database does not load";
  std::string why = CheckRecords();
  if (why.empty()) why = CheckPlays(state + "/expect");
  if (why.empty()) why = CheckWorks(state);
  KivDB::Shutdown();
  return why;
}

}  // namespace

int main(int argc, char** argv) {
  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  AppLog().SetLogLevel(LEVEL_INFO);
  int violations = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string why = Check(argv[i]);
    if (!why.empty()) ++violations;
    std::printf("%s %s\n", argv[i], why.empty() ? "ok" : ("violation: " + why).c_str());
  }
  return violations == 0 ? 0 : 1;
}
