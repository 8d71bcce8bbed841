// The road of new tracks with identification on, in one process on a fake
// clock: the MusicID agent and the transmit agent of the program, the
// component beside the program, the development lookup service and the
// development KIV server. A lookup service that fails for a while holds the
// tracks back; once it answers, every track reaches the server identified.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/identification_state.h"
#include "app/log.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "musicid/agent_musicid.h"
#include "musicid/cddb_module_loader.h"
#include "musicid/cddb_startup.h"
#include "musicid/kiv_client_musicid.h"
#include "server/agent_transmit.h"
#include "server/connection_monitor.h"
#include "server/connectivity.h"
#include "tests/support/media_cache.h"
#include "tests/support/temp_env.h"
#include "tools/kiv_devserver_process.h"

namespace {

using kiv_devserver::DevServer;

constexpr int kTracks = 3;
constexpr const char* kRecording = "rec-road-retry";

std::string Title(int i) { return "Retry Road Song " + std::to_string(i); }

class IdentificationRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppSettings().SetCompanyName("KIV");
    AppSettings().SetApplicationName("Windows Client");
    AppLog().SetLogFile(env_.Path("kivclient.log"));
    AppLog().SetLogLevel(LEVEL_VERBOSE);
    ResetServerState();
    ResetIdentificationState();
    AgentTransmit::ResetProcessState();
    ASSERT_TRUE(KivDB::Initialise(clock_));

    server_ = std::make_unique<DevServer>(env_.Path("server"));
    ASSERT_TRUE(server_->ok());
    server_->SetConfig(
        R"({"accounts": [{"username": "demo@example.org", "password": "typed",
            "client_password": "demo-client-password"}]})");
    lookup_ = std::make_unique<DevServer>(env_.Path("lookup"), std::vector<std::string>{},
                                          kiv_devserver::IdentifyDevServiceScript());
    ASSERT_TRUE(lookup_->ok());
    CRegSettings& s = AppSettings();
    ASSERT_TRUE(s.WriteStringUtf8(kSubKeySettings, "ServerUrl", server_->Url()));
    ASSERT_TRUE(s.WriteStringUtf8(kSubKeySettings, "Username", "demo@example.org"));
    ASSERT_TRUE(s.WriteStringUtf8(kSubKeySettings, "Password", "demo-client-password"));
    ASSERT_TRUE(s.WriteString(kSubKeySettings, kIdentifyUrlValue, lookup_->Base() + "/v2/lookup"));
    ASSERT_TRUE(s.WriteString(kSubKeySettings, kIdentifyClientKeyValue, "road-key"));
    ASSERT_TRUE(s.WriteDword(kSubKeySettings, "UseMusicID", 1));
    // What the connection monitor leaves once the server took the account.
    AuthState = 0;
    OnlineState = 1;

    // The component is built beside the program.
    modules_ = std::filesystem::path(VORNIC_BINARY).parent_path().string();
    ASSERT_EQ(loader_.Init(modules_, false), S_OK);
    SetCddbLoader(&loader_);

    const std::string music = env_.Path("music");
    std::filesystem::create_directories(music);
    ASSERT_TRUE(SaveSearchPaths({{SearchPathKey(music), 1}}));
    KivDB db;
    for (int i = 0; i < kTracks; ++i) {
      test_media::MediaPlan plan = media_cache::TaggedPlan("mp3");
      plan.seconds = test_media::SecondsForSize(plan, 150000) + i;
      plan.tags.title = Title(i);
      const std::string path = music + "/" + std::to_string(i) + ".mp3";
      std::filesystem::copy_file(media_cache::CachedMedia(plan), path);
      // As the indexer adds it.
      ASSERT_TRUE(db.AddEntry(path));
      DBEntry entry;
      ASSERT_TRUE(db.GetEntry(path, &entry));
      ASSERT_EQ(db.GetTagEntry(&entry, TRUE), S_OK);
      ASSERT_TRUE(db.UpdateEntry(&entry, FALSE));
    }
    loop_.SetHandler([this](Message& m) { posted_.push_back(m); });
  }
  void TearDown() override {
    SetMusicIdWrapper(nullptr);
    SetCddbLoader(nullptr);
    KivDB::Shutdown();
    ResetServerState();
    ResetIdentificationState();
    AgentTransmit::ResetProcessState();
  }

  AgentContext Context(UINT kind) {
    AgentContext context;
    context.kind = kind;
    context.main_window = &loop_;
    context.clock = &clock_;
    return context;
  }
  // One identification run, then one transmit job, as the controller
  // chains them. Returns the delay of the identification's own next run
  // (-1: none asked for).
  LPARAM IdentifyThenTransmit() {
    posted_.clear();
    AgentMusicIDOptions options;
    options.is_online = [] { return true; };
    options.component_folder = modules_;
    AgentMusicID(Context(AGENT_MUSICID), options).Run();
    AgentTransmit(Context(AGENT_SERVER)).Run();
    loop_.ProcessPending();
    LPARAM delay = -1;
    for (const Message& m : posted_)
      if (m.id == WM_AGENT_REQUEST && m.wParam == ID_AGENT_MUSICID) delay = m.lParam;
    return delay;
  }
  int Described(const std::string& text) {
    int n = 0;
    for (const DevServer::Call& call : server_->Calls())
      if (call.method == "IndexBatch" && !call.answer.empty())
        for (std::size_t at = call.flat.find(text); at != std::string::npos;
             at = call.flat.find(text, at + 1))
          ++n;
    return n;
  }

  testing_support::TempEnv env_;
  platform::FakeClock clock_;
  MessageLoop loop_{clock_};
  std::vector<Message> posted_;
  CTagReaderRef tag_reader_;
  CddbModuleLoader loader_;
  std::string modules_;
  std::unique_ptr<DevServer> server_;
  std::unique_ptr<DevServer> lookup_;
};

TEST_F(IdentificationRoadTest, TracksHeldThroughAFailingLookupReachTheServerIdentified) {
  lookup_->SetConfig(std::string(R"({"keys": ["road-key"],
      "first": [{"http_status": 503}, {"http_status": 503}, {"http_status": 503}],
      "default": {"results": [{"id": "a", "score": 0.97, "recordings": [{"id": ")") +
                     kRecording + R"(", "title": "Identified Title",
        "artists": [{"name": "Found Artist"}], "releasegroups": [{"id": "rg",
        "title": "Found Album", "type": "Album", "artists": [{"name": "Found Artist"}]}]}]}]}})");
  const LPARAM expected_delays[] = {60000, 120000, 240000};
  for (LPARAM expected : expected_delays) {
    EXPECT_EQ(IdentifyThenTransmit(), expected);
    EXPECT_EQ(Described("Retry Road Song"), 0) << "a track went before it was identified";
    clock_.Advance(static_cast<std::uint64_t>(expected));
  }
  EXPECT_EQ(IdentifyThenTransmit(), -1);
  EXPECT_EQ(Described(kRecording), kTracks);
  KivDB db;
  for (int i = 0; i < kTracks; ++i) {
    DBEntry entry;
    ASSERT_TRUE(db.GetEntry(env_.Path("music") + "/" + std::to_string(i) + ".mp3", &entry));
    EXPECT_TRUE(entry.flags & DBFLAG_IDENTIFIED) << i;
    EXPECT_NE(entry.kiv_id, 0u) << i;
  }
}

TEST_F(IdentificationRoadTest, WithoutAClientKeyTheTracksGoAtOnceUnidentified) {
  ASSERT_TRUE(AppSettings().WriteString(kSubKeySettings, kIdentifyClientKeyValue, ""));
  lookup_->SetConfig("{}");
  EXPECT_EQ(IdentifyThenTransmit(), -1);
  EXPECT_TRUE(lookup_->Calls().empty());
  for (int i = 0; i < kTracks; ++i) EXPECT_EQ(Described(Title(i)), 1) << i;
  EXPECT_EQ(Described(kRecording), 0);
}

}  // namespace
