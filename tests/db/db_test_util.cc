#include "tests/db/db_test_util.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/log.h"
#include "app/reg_settings.h"
#include "platform/folders.h"

namespace db_test {

DBEntry MakeEntry(const std::string& path, std::uint32_t size, std::uint32_t seed) {
  DBEntry entry = MakeFreshEntry(1000 + seed);
  SetEntryPath(entry, path);
  entry.file_size = size;
  SetEntryText(entry.file_type, "mp3");
  SetEntryText(entry.title, "Title " + std::to_string(seed));
  SetEntryText(entry.artist, "Artist " + std::to_string(seed % 97));
  entry.play_count = static_cast<std::int32_t>(seed % 13);
  entry.track_number = static_cast<std::int32_t>(seed % 20);
  return entry;
}

void MakeSizedFile(const std::string& path, std::uint64_t size) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  { std::ofstream out(path, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(path, size);
}

std::string ReadBytes(const std::string& path) { return testing_support::ReadFile(path); }

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

DBHeader ReadHeader(const std::string& path) {
  DBHeader header;
  std::memset(&header, 0, sizeof header);
  std::string bytes = ReadBytes(path);
  std::memcpy(&header, bytes.data(), std::min(bytes.size(), sizeof header));
  return header;
}

std::vector<KillOp> KillOps(int adds) {
  std::vector<KillOp> ops;
  for (int i = 0; i < adds; ++i) {
    ops.push_back({'a', i});
    if (i % 3 == 2) ops.push_back({'u', i - 1});
    if (i % 7 == 6) ops.push_back({'d', i - 6});
  }
  return ops;
}

std::string KillPath(int round, int i) {
  return "/music/round" + std::to_string(round) + "/track" + std::to_string(i) + ".mp3";
}

void DbTestBase::SetUp() {
  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  std::filesystem::create_directories(platform::DataDir());
  AppLog().SetLogFile(env_.Path("test.log"));
  AppLog().SetLogLevel(LEVEL_VERBOSE);
  AppLog().SetLogModuleMask(MODULE_EVERYTHING);
  KivDB::SetEventSink(&sink_);
  SetMessageBoxHost(&messages_);
}

void DbTestBase::TearDown() {
  KivDB::Shutdown();
  KivDB::SetEventSink(nullptr);
  SetMessageBoxHost(nullptr);
}

std::string DbTestBase::DbPath() const { return platform::DataDir() + "/kivclient.db"; }

std::string DbTestBase::LogText() const { return testing_support::ReadFile(env_.Path("test.log")); }

BOOL DbTestBase::Reinitialise() {
  KivDB::Shutdown();
  return KivDB::Initialise(clock_);
}

}  // namespace db_test
