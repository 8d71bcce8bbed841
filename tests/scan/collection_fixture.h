// A fixture for the collection-scanning agents: its own temporary folder
// with the settings, log and database inside, the tag reader's extension
// list filled, a fake clock, a music folder to fill with real media files
// (made once by the test-media tool) and a main-window loop that records
// what the agents post.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/agent_registry.h"
#include "app/log.h"
#include "app/message_loop.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "scan/agent_indexer.h"
#include "tests/support/media_cache.h"
#include "tests/support/temp_env.h"

namespace media_cache {

class CollectionFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    AppSettings().SetCompanyName("KIV");
    AppSettings().SetApplicationName("Windows Client");
    std::filesystem::create_directories(platform::DataDir());
    AppLog().SetLogFile(env_.Path("kivclient.log"));
    AppLog().SetLogLevel(LEVEL_VERBOSE);
    AppLog().SetLogModuleMask(MODULE_EVERYTHING);
    ASSERT_TRUE(KivDB::Initialise(clock_));
    music_ = env_.Path("music");
    std::filesystem::create_directories(music_);
    loop_.SetHandler([this](Message& message) { posted_.push_back(message); });
  }
  void TearDown() override { KivDB::Shutdown(); }

  // A real media file of about 170 KiB, copied to `path` (parents made).
  std::string PutMedia(const std::string& path) {
    test_media::MediaPlan plan;
    plan.format = "wav";
    plan.seconds = 1.0;
    const std::string source = CachedMedia(plan);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
    return path;
  }
  // A (sparse) file of exactly `bytes` bytes.
  std::string PutSized(const std::string& path, std::uintmax_t bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    testing_support::WriteFile(path, "");
    std::filesystem::resize_file(path, bytes);
    return path;
  }
  void Choose(const SearchPathMap& map) { ASSERT_TRUE(SaveSearchPaths(map)); }

  DWORD ReadDword(const char* name, DWORD preset = 0xFFFFFFFF) {
    AppSettings().ReadDword(kSubKeySettings, name, preset);
    return preset;
  }
  // What the agents posted to the main window since the last call.
  std::vector<Message> Posted() {
    loop_.ProcessPending();
    std::vector<Message> out;
    out.swap(posted_);
    return out;
  }
  std::string LogText() const { return testing_support::ReadFile(env_.Path("kivclient.log")); }
  // One indexer run without the pauses between records and files.
  int RunIndexer() {
    AgentIndexerOptions options;
    options.record_sleep_ms = 0;
    options.file_sleep_ms = 0;
    AgentIndexer indexer(Context(AGENT_INDEXER), options);
    return indexer.Run();
  }
  AgentContext Context(UINT kind) {
    AgentContext context;
    context.kind = kind;
    context.main_window = &loop_;
    context.clock = &clock_;
    return context;
  }

  testing_support::TempEnv env_;
  platform::FakeClock clock_{1700000000};
  MessageLoop loop_{clock_};
  CTagReaderRef tag_reader_;
  std::string music_;
  std::vector<Message> posted_;
};

}  // namespace media_cache
