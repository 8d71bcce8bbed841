// The MusicID agent's start: with identification off it hands over to the
// transmit agent at once; with it on it logs its start.
#include "musicid/agent_musicid.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "app/log.h"
#include "platform/folders.h"
#include "tests/support/temp_env.h"

namespace {

class AgentMusicIdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppSettings().SetCompanyName("KIV");
    AppSettings().SetApplicationName("Windows Client");
    AppLog().SetLogFile(env_.Path("kivclient.log"));
    AppLog().SetLogLevel(LEVEL_VERBOSE);
    AppLog().SetLogModuleMask(MODULE_EVERYTHING);
    loop_.SetHandler([this](Message& m) { posted_.push_back(m); });
  }
  int RunJob() {
    AgentJobRegistry jobs;
    RegisterMusicIdAgent(jobs);
    AgentContext context;
    context.kind = AGENT_MUSICID;
    context.main_window = &loop_;
    std::unique_ptr<CAgent> job;
    EXPECT_TRUE(jobs.Create(context, &job));
    EXPECT_TRUE(job);
    const int result = job ? job->Run() : -1;
    loop_.ProcessPending();
    return result;
  }
  std::string LogText() const { return testing_support::ReadFile(env_.Path("kivclient.log")); }

  testing_support::TempEnv env_;
  MessageLoop loop_;
  std::vector<Message> posted_;
};

TEST_F(AgentMusicIdTest, IdentificationOffByDefaultHandsOverToTheTransmitAgent) {
  EXPECT_EQ(RunJob(), 1);
  ASSERT_EQ(posted_.size(), 1u);
  EXPECT_EQ(posted_[0].id, WM_AGENT_REQUEST);
  EXPECT_EQ(posted_[0].wParam, ID_AGENT_SERVER);
  EXPECT_EQ(posted_[0].lParam, 0);
  EXPECT_NE(LogText().find("AgentMusicID: Not using MusicID. Cancelling identification."),
            std::string::npos);
  EXPECT_EQ(LogText().find("AgentMusicID: Starting identification"), std::string::npos);
}

TEST_F(AgentMusicIdTest, IdentificationOnLogsItsStartAndLeavesTheChainToTheController) {
  ASSERT_TRUE(AppSettings().WriteDword(kSubKeySettings, "UseMusicID", 1));
  EXPECT_EQ(RunJob(), 1);
  EXPECT_TRUE(posted_.empty());
  EXPECT_NE(LogText().find("AgentMusicID: Starting identification"), std::string::npos);
}

}  // namespace
