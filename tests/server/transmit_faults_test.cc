// The transmit agent when the server fails it: no answer (HTTP 500, a
// dropped connection, an answer later than the time limit, the server
// gone), a refusal, and a stop in the middle of a pass. Whatever happens,
// an accepted track is never described again and an unaccepted one is
// described by a later job.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/kiv_client_agent.h"
#include "tests/server/transmit_fixture.h"

namespace server_test {
namespace {

class TransmitFaultsTest : public TransmitTest {
 protected:
  std::vector<std::string> AddTracks(int first, int count) {
    std::vector<std::string> paths;
    for (int i = first; i < first + count; ++i) {
      const std::string path = PutTrack("t" + std::to_string(i) + ".mp3");
      AddRecord(path, [i](DBEntry& e) { SetEntryText(e.title, "Track " + std::to_string(i)); });
      paths.push_back(path);
    }
    return paths;
  }
  std::string Title(int i) { return "<string>Track " + std::to_string(i) + "</string>"; }
  void NoAnswerMidSession(const char* mode);

  // Runs jobs until one succeeds; returns the results.
  std::vector<int> RunJobs(int max) {
    std::vector<int> results;
    for (int i = 0; i < max; ++i) {
      AgentTransmit agent(Context());
      results.push_back(agent.Run());
      if (results.back() == 1) break;
    }
    return results;
  }
};

// Two tracks accepted by one job, four more of which the first batch of
// the next job gets no answer (`mode`); a third job finishes.
void TransmitFaultsTest::NoAnswerMidSession(const char* mode) {
  server_->SetConfig(ConfigWith("\"batch_size\": 2"));
  AddTracks(0, 2);
  ASSERT_EQ(RunJobs(1), std::vector<int>{1});
  const std::vector<std::string> late = AddTracks(2, 4);
  server_->SetConfig(ConfigWith(std::string("\"batch_size\": 2, \"failures\": {\"IndexBatch\": "
                                            "{\"mode\": \"") +
                                mode + "\", \"count\": 1}}"));

  EXPECT_EQ(RunJobs(2), (std::vector<int>{0, 1}));

  const std::vector<std::string> events = window_.Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), "Server Busy. Pausing 20 seconds."), 1);
  EXPECT_EQ(LogCount("Server Busy. Pausing 20 seconds."), 1);
  EXPECT_EQ(window_.Requests(), (std::vector<std::pair<WPARAM, LPARAM>>{{ID_AGENT_SERVER, 20000}}));
  // One IndexStart per session: the failed job left it open.
  EXPECT_EQ(CallsOf("IndexStart").size(), 2u);
  EXPECT_EQ(CallsOf("IndexStop").size(), 2u);
  EXPECT_EQ(TimesDescribed(Title(0)), 1);
  EXPECT_EQ(TimesDescribed(Title(1)), 1);
  // The call in flight is the only one made twice.
  EXPECT_EQ(TimesDescribed(Title(2)), 2);
  EXPECT_EQ(TimesDescribed(Title(3)), 2);
  EXPECT_EQ(TimesDescribed(Title(4)), 1);
  for (const std::string& path : late) EXPECT_NE(Record(path).kiv_id, 0u) << path;
}

TEST_F(TransmitFaultsTest, Http500MidSessionPausesAndTheNextJobSendsOnlyTheRest) {
  NoAnswerMidSession("http500");
}

TEST_F(TransmitFaultsTest, ADroppedConnectionPausesAndTheNextJobSendsOnlyTheRest) {
  NoAnswerMidSession("drop");
}

TEST_F(TransmitFaultsTest, AnAnswerLaterThanTheTimeLimitCountsAsNone) {
  SetServerCallTimeoutMs(3000);
  AddTracks(0, 2);
  server_->SetConfig(
      ConfigWith("\"failures\": {\"IndexBatch\": {\"mode\": \"delay\", \"seconds\": 8, "
                 "\"count\": 1}}"));
  EXPECT_EQ(RunJobs(2), (std::vector<int>{0, 1}));
  EXPECT_EQ(LogCount("Server Busy. Pausing 20 seconds."), 1);
  // A slow answer inside the limit is simply waited for.
  AddTracks(2, 1);
  server_->SetConfig(
      ConfigWith("\"failures\": {\"IndexBatch\": {\"mode\": \"delay\", \"seconds\": 1}}"));
  EXPECT_EQ(RunJobs(1), std::vector<int>{1});
  EXPECT_EQ(TimesDescribed(Title(2)), 1);
}

TEST_F(TransmitFaultsTest, ServerGoneMeansConnectionLostAndNoRelaunch) {
  AddTracks(0, 1);
  server_->Stop();
  AgentTransmit agent(Context());
  EXPECT_EQ(agent.Run(), 0);
  // (The connection check also posts its own general event.)
  EXPECT_EQ(TransmitEvents(), std::vector<std::string>{"Connection lost. Cancelling transmit."});
  EXPECT_TRUE(window_.Requests().empty());
  EXPECT_EQ(LogCount("Connection lost. Cancelling transmit."), 1);
  EXPECT_FALSE(AgentTransmit::IndexSessionOpen());
}

TEST_F(TransmitFaultsTest, ARefusedIndexStartStopsTheStepWithAnErrorLine) {
  AddTracks(0, 1);
  server_->SetConfig(ConfigWith("\"results\": {\"IndexStart\": {\"return_code\": 1}}"));
  AgentTransmit agent(Context());
  EXPECT_EQ(agent.Run(), 1);
  EXPECT_EQ(LogCount("Failed SendIndexStartRequest. Cancelling transmit."), 1);
  EXPECT_TRUE(CallsOf("IndexBatch").empty());
  EXPECT_TRUE(window_.Requests().empty());
}

// The job on a real agent thread, stopped while it waits out the rate
// limit after its first batch.
class TransmitStopTest : public TransmitFaultsTest {
 protected:
  void RunAndStop() {
    server_->SetConfig(ConfigWith("\"batch_size\": 1, \"rate_limit\": 5"));
    paths_ = AddTracks(0, 3);
    AgentJobRegistry jobs;
    RegisterTransmitAgent(jobs);
    CKivClientAgent thread(jobs, &window_.loop(), platform::SystemClock(), {}, false);
    thread.PostThreadMessage(WM_AGENT_REQUEST, AGENT_SERVER, 0);
    ASSERT_TRUE(thread.Start());
    const auto patience = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (CallsOf("IndexBatch").empty() && std::chrono::steady_clock::now() < patience)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(CallsOf("IndexBatch").size(), 1u);
    const auto asked = std::chrono::steady_clock::now();
    thread.PostStop();
    thread.Join();
    // The wait is cut into half-second steps.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(1500));
    EXPECT_EQ(CallsOf("IndexBatch").size(), 1u);
    EXPECT_EQ(LogCount("SendIndexedEntries: CheckQuit=TRUE. Cancelling transmit."), 1);
    EXPECT_NE(Record(paths_[0]).kiv_id, 0u);
    EXPECT_EQ(Record(paths_[1]).kiv_id, 0u);
  }
  std::vector<std::string> paths_;
};

TEST_F(TransmitStopTest, AStopKeepsTheIndexSessionOpenForTheNextJob) {
  RunAndStop();
  EXPECT_TRUE(AgentTransmit::IndexSessionOpen());
  EXPECT_TRUE(CallsOf("IndexStop").empty());
}

TEST_F(TransmitStopTest, AStopAtShutdownClosesTheIndexSession) {
  SetControllerShuttingDown(true);
  RunAndStop();
  EXPECT_FALSE(AgentTransmit::IndexSessionOpen());
  EXPECT_EQ(CallsOf("IndexStop").size(), 1u);
}

}  // namespace
}  // namespace server_test
