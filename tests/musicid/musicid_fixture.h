// A fixture for the identification wrapper and agent: its own temporary
// folder with settings, log and database, the component's real modules
// loaded from a folder of its own, the development lookup service as a
// child process, real media files in a music folder, and a main-window
// loop that records what is posted.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/agent.h"
#include "app/log.h"
#include "app/message_loop.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "musicid/cddb_module_loader.h"
#include "musicid/kiv_client_musicid.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "tests/support/media_cache.h"
#include "tests/support/temp_env.h"
#include "tools/kiv_devserver_process.h"

namespace musicid_test {

// An agent job that is never asked to stop.
class IdleAgent : public CAgent {
 public:
  int Run() override { return 1; }
};

// One recording on one release group, as the service lists it.
struct Rec {
  std::string id, title, artist, group, album, album_artist;
};
// A "results" array with one result of `score` holding `recordings`.
std::string Results(double score, const std::vector<Rec>& recordings);

class MusicIdFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A melody of `seconds` as an mp3 file at music/<relative>, with a record.
  std::string PutTrack(const std::string& relative, double seconds,
                       const test_media::MediaTags& tags = {});
  DBEntry Record(const std::string& path);
  // The fingerprint the component makes of `path`.
  std::string Fingerprint(const std::string& path);
  // Sets the service's config (JSON members without the braces).
  void Answers(const std::string& members);
  // Initialises a wrapper, queues `files` and identifies them.
  HRESULT Identify(const std::vector<std::string>& files);
  std::vector<Message> Posted();
  std::vector<std::string> PostedTexts(UINT id);
  std::string LogText() const { return testing_support::ReadFile(env_.Path("kivclient.log")); }
  MusicIdEnvironment Environment();

  testing_support::TempEnv env_;
  platform::FakeClock clock_{1700000000};
  MessageLoop loop_{clock_};
  CTagReaderRef tag_reader_;
  CddbModuleLoader loader_;
  std::unique_ptr<kiv_devserver::DevServer> service_;
  std::string music_;
  std::vector<Message> posted_;
  IdleAgent agent_;
};

}  // namespace musicid_test
