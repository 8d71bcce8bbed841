// The fixture of the transmit agent tests: the server tests' home, settings,
// log and development server, plus the database, a chosen music folder
// holding real tagged media files (made by the test-media tool), a signed-in
// session, a fake clock for the record times and a main-window stand-in
// that collects what the agent posts.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/controller_state.h"
#include "app/search_paths.h"
#include "db/kiv_db.h"
#include "platform/clock.h"
#include "server/agent_transmit.h"
#include "server/connectivity.h"
#include "server/server_session.h"
#include "tests/server/server_test_util.h"
#include "tools/test_media.h"

namespace server_test {

class TransmitTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    UseAccount();
    AgentTransmit::ResetProcessState();
    SetControllerShuttingDown(false);
    ASSERT_TRUE(KivDB::Initialise(clock_));
    music_ = env_.Path("music");
    std::filesystem::create_directories(music_);
    ASSERT_TRUE(SaveSearchPaths({{music_, 1}}));
    SignIn();
  }
  void TearDown() override {
    KivDB::Shutdown();
    AgentTransmit::ResetProcessState();
    SetControllerShuttingDown(false);
    ServerTest::TearDown();
  }

  // What the connection monitor leaves behind once the server accepted the
  // credentials.
  void SignIn() {
    AuthState = 0;
    OnlineState = 1;
  }

  AgentContext Context(platform::Clock* clock = nullptr) {
    AgentContext context;
    context.kind = AGENT_SERVER;
    context.main_window = &window_.loop();
    context.clock = clock ? clock : &clock_;
    return context;
  }

  // A real mp3 file of about 140 KiB (enough for a record) with `title`
  // and `artist` ("" leaves the tag out). Made once per test and copied.
  std::string PutTrack(const std::string& name, const std::string& title = "Title",
                       const std::string& artist = "Artist") {
    const std::string key = title + "\x01" + artist;
    auto it = std::find(made_keys_.begin(), made_keys_.end(), key);
    std::string source;
    if (it == made_keys_.end()) {
      test_media::MediaPlan plan;
      plan.format = "mp3";
      plan.seconds = test_media::SecondsForSize(plan, 140000);
      plan.tags.title = title;
      plan.tags.artist = artist;
      plan.tags.album = title.empty() ? "" : "Album of " + title;
      source = env_.Path("made-" + std::to_string(made_keys_.size()) + ".mp3");
      const std::string error = test_media::MakeTestMedia(source, plan);
      EXPECT_EQ(error, "");
      made_keys_.push_back(key);
    } else {
      source = env_.Path("made-" + std::to_string(it - made_keys_.begin()) + ".mp3");
    }
    const std::string path = music_ + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
    return path;
  }

  // Adds the record of `path` as the indexer does (no tags) and lets
  // `change` adjust it before it is stored.
  template <typename Change>
  void AddRecord(const std::string& path, Change change) {
    KivDB db;
    ASSERT_TRUE(db.AddEntry(path)) << path;
    DBEntry entry;
    ASSERT_TRUE(db.GetEntry(path, &entry));
    change(entry);
    ASSERT_TRUE(db.UpdateEntry(&entry, FALSE));
  }
  // Changes the stored record of `path`.
  template <typename Change>
  void ChangeRecord(const std::string& path, Change change) {
    KivDB db;
    DBEntry entry;
    ASSERT_TRUE(db.GetEntry(path, &entry)) << path;
    change(entry);
    ASSERT_TRUE(db.UpdateEntry(&entry, FALSE));
  }
  void AddRecord(const std::string& path) {
    AddRecord(path, [](DBEntry&) {});
  }

  DBEntry Record(const std::string& path) {
    KivDB db;
    DBEntry entry{};
    EXPECT_TRUE(db.GetEntry(path, &entry)) << path;
    return entry;
  }
  bool HasRecord(const std::string& path) {
    KivDB db;
    return db.LookupEntry(path) != 0;
  }

  // The server's calls of `method`, in order.
  std::vector<DevServer::Call> CallsOf(const std::string& method) {
    std::vector<DevServer::Call> calls;
    for (DevServer::Call& call : server_->Calls())
      if (call.method == method) calls.push_back(std::move(call));
    return calls;
  }
  // The number of entries an IndexBatch call carried.
  static int Entries(const DevServer::Call& call) {
    int n = 0;
    const std::string mark = "<name>song_attributes</name>";
    for (std::size_t at = call.flat.find(mark); at != std::string::npos;
         at = call.flat.find(mark, at + 1))
      ++n;
    return n;
  }
  std::vector<int> BatchSizes() {
    std::vector<int> sizes;
    for (const DevServer::Call& call : CallsOf("IndexBatch")) sizes.push_back(Entries(call));
    return sizes;
  }
  // How often `text` occurs in the bodies of every IndexBatch call.
  int TimesDescribed(const std::string& text) {
    int n = 0;
    for (const DevServer::Call& call : CallsOf("IndexBatch"))
      for (std::size_t at = call.flat.find(text); at != std::string::npos;
           at = call.flat.find(text, at + 1))
        ++n;
    return n;
  }

  // The status events of the transmit activity.
  std::vector<std::string> TransmitEvents() {
    std::vector<std::string> events;
    for (const Message& m : window_.Take())
      if (m.id == WM_STATUS_EVENT && m.wParam == kJobTransmit) events.push_back(m.payload);
    return events;
  }

  std::int64_t Now() const { return platform::NowAsStoredTime(clock_.WallTime()); }

  platform::FakeClock clock_;
  PostedMessages window_;
  std::string music_;
  std::vector<std::string> made_keys_;
};

}  // namespace server_test
