#include "app/message_loop.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// Records what the loop dispatched, as (id, wParam) pairs.
struct Recorder {
  std::vector<std::pair<UINT, WPARAM>> seen;
  std::vector<std::string> payloads;
  MessageLoop::Handler Handler() {
    return [this](Message& m) {
      seen.emplace_back(m.id, m.wParam);
      payloads.push_back(std::move(m.payload));
    };
  }
};

using Seen = std::vector<std::pair<UINT, WPARAM>>;

TEST(MessageLoopTest, DispatchesInPostOrderWithPayloads) {
  platform::FakeClock clock;
  MessageLoop loop(clock);
  Recorder rec;
  loop.SetHandler(rec.Handler());
  loop.PostMessage(WM_APP + 1, 1, 0, "first");
  loop.PostMessage(WM_APP + 2, 2);
  loop.PostMessage(WM_APP + 1, 3, -1, "third");
  EXPECT_EQ(loop.ProcessPending(), 3u);
  EXPECT_EQ(rec.seen, (Seen{{WM_APP + 1, 1}, {WM_APP + 2, 2}, {WM_APP + 1, 3}}));
  EXPECT_EQ(rec.payloads, (std::vector<std::string>{"first", "", "third"}));
  EXPECT_EQ(loop.ProcessPending(), 0u);
}

TEST(MessageLoopTest, MessagesPostedTogetherKeepTheirPlaceAmongOthers) {
  platform::FakeClock clock;
  MessageLoop loop(clock);
  Recorder rec;
  loop.SetHandler(rec.Handler());
  loop.PostMessage(WM_APP + 1, 1);
  loop.PostMessages({Message{WM_APP + 2, 2, 0, "a"}, Message{WM_APP + 2, 3, 0, "b"}});
  loop.PostMessages({});
  loop.PostMessage(WM_APP + 1, 4);
  EXPECT_EQ(loop.PendingCount(), 4u);
  EXPECT_EQ(loop.ProcessPending(), 4u);
  EXPECT_EQ(rec.seen, (Seen{{WM_APP + 1, 1}, {WM_APP + 2, 2}, {WM_APP + 2, 3}, {WM_APP + 1, 4}}));
  EXPECT_EQ(rec.payloads, (std::vector<std::string>{"", "a", "b", ""}));
  // Left undispatched, a batch is freed with the loop.
  loop.PostMessages({Message{WM_APP + 3, 5, 0, std::string(100, 'x')}});
}

TEST(MessageLoopTest, TimersFireOnceWhenTheClockReachesThem) {
  platform::FakeClock clock;
  MessageLoop loop(clock);
  Recorder rec;
  loop.SetHandler(rec.Handler());
  loop.SetTimer(32968, 10000);
  loop.SetTimer(32971, 5000);
  EXPECT_EQ(loop.MsUntilNextTimer(), 5000);
  clock.Advance(4999);
  loop.ProcessPending();
  EXPECT_TRUE(rec.seen.empty());
  clock.Advance(6000);
  EXPECT_EQ(loop.MsUntilNextTimer(), 0);
  loop.ProcessPending();
  // Earliest deadline first, each exactly once.
  EXPECT_EQ(rec.seen, (Seen{{WM_TIMER, 32971}, {WM_TIMER, 32968}}));
  clock.Advance(100000);
  loop.ProcessPending();
  EXPECT_EQ(rec.seen.size(), 2u);
  EXPECT_EQ(loop.MsUntilNextTimer(), -1);
}

TEST(MessageLoopTest, SetTimerReplacesAndKillTimerRemoves) {
  platform::FakeClock clock;
  MessageLoop loop(clock);
  Recorder rec;
  loop.SetHandler(rec.Handler());
  loop.SetTimer(7, 1000);
  clock.Advance(900);
  loop.SetTimer(7, 1000);  // the new deadline counts from now
  clock.Advance(200);
  loop.ProcessPending();
  EXPECT_TRUE(rec.seen.empty());
  clock.Advance(800);
  loop.ProcessPending();
  EXPECT_EQ(rec.seen, (Seen{{WM_TIMER, 7}}));

  loop.SetTimer(8, 10);
  EXPECT_TRUE(loop.HasTimer(8));
  EXPECT_EQ(loop.KillTimer(8), TRUE);
  EXPECT_EQ(loop.KillTimer(8), FALSE);
  clock.Advance(50);
  loop.ProcessPending();
  EXPECT_EQ(rec.seen.size(), 1u);
}

TEST(MessageLoopTest, HandlerReArmingAZeroTimerDoesNotSpinOnePass) {
  platform::FakeClock clock;
  MessageLoop loop(clock);
  int fired = 0;
  loop.SetHandler([&](Message& m) {
    if (m.id == WM_TIMER) {
      ++fired;
      loop.SetTimer(m.wParam, 0);
    } else {
      loop.PostMessage(m.id);  // re-posts itself
    }
  });
  loop.SetTimer(1, 0);
  loop.PostMessage(WM_APP);
  EXPECT_EQ(loop.ProcessPending(), 2u);
  EXPECT_EQ(fired, 1);
  EXPECT_TRUE(loop.WaitForInput(0));  // work remains for the next pass
}

TEST(MessageLoopTest, PostsFromOtherThreadsAllArriveAndQuitEndsRun) {
  MessageLoop loop;
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  std::vector<std::vector<WPARAM>> per_thread(kThreads);
  int total = 0;
  loop.SetHandler([&](Message& m) {
    per_thread[m.lParam].push_back(m.wParam);
    if (++total == kThreads * kEach) loop.Quit(3);
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&loop, t] {
      for (int i = 0; i < kEach; ++i) loop.PostMessage(WM_APP, i, t);
    });
  EXPECT_EQ(loop.Run(), 3);
  for (auto& th : threads) th.join();
  // Each sender's messages keep their order.
  for (const auto& seq : per_thread) {
    ASSERT_EQ(seq.size(), static_cast<size_t>(kEach));
    for (int i = 0; i < kEach; ++i) EXPECT_EQ(seq[i], static_cast<WPARAM>(i));
  }
}

TEST(MessageLoopTest, RunWaitsForARealTimerAndQuitFromAnotherThread) {
  MessageLoop loop;
  Recorder rec;
  loop.SetHandler([&](Message& m) {
    rec.seen.emplace_back(m.id, m.wParam);
    if (m.id == WM_TIMER) loop.Quit(0);
  });
  loop.SetTimer(5, 20);
  EXPECT_EQ(loop.Run(), 0);
  EXPECT_EQ(rec.seen, (Seen{{WM_TIMER, 5}}));

  std::thread quitter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    loop.Quit(9);
  });
  EXPECT_EQ(loop.Run(), 9);
  quitter.join();
}

TEST(MessageLoopTest, WaitForInputReturnsOnWakeInputOrTimeout) {
  MessageLoop loop;
  EXPECT_FALSE(loop.WaitForInput(10));
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    loop.Wake();
  });
  EXPECT_TRUE(loop.WaitForInput(5000));
  waker.join();
  EXPECT_FALSE(loop.WaitForInput(0));  // a wake-up is consumed once
  loop.PostMessage(WM_APP);
  EXPECT_TRUE(loop.WaitForInput(5000));
  EXPECT_EQ(loop.PendingCount(), 1u);
}

TEST(MessageLoopTest, NestedPassInsideAHandlerTakesTheRest) {
  platform::FakeClock clock;
  MessageLoop loop(clock);
  std::vector<WPARAM> order;
  loop.SetHandler([&](Message& m) {
    order.push_back(m.wParam);
    if (m.wParam == 1) loop.ProcessPending();  // a modal wait pumping the queue
  });
  for (WPARAM i = 1; i <= 3; ++i) loop.PostMessage(WM_APP, i);
  loop.ProcessPending();
  EXPECT_EQ(order, (std::vector<WPARAM>{1, 2, 3}));
}

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

TEST(MessageLoopTest, WakeFdIsReadableAgainAfterEachPassThatEmptiedTheQueue) {
  platform::FakeClock clock;
  MessageLoop loop(clock);
  int dispatched = 0;
  loop.SetHandler([&](Message&) { ++dispatched; });
  EXPECT_FALSE(Readable(loop.WakeFd()));
  for (int round = 0; round < 3; ++round) {
    loop.PostMessage(WM_APP);
    loop.PostMessage(WM_APP);
    EXPECT_TRUE(Readable(loop.WakeFd()));
    EXPECT_EQ(loop.ProcessPending(), 2u);
    EXPECT_FALSE(Readable(loop.WakeFd()));
  }
  // Work left by a pass keeps the descriptor readable, and so does what a
  // handler posts during the pass.
  loop.SetHandler([&](Message& m) {
    if (m.wParam == 1) loop.PostMessage(WM_APP, 2);
  });
  loop.PostMessage(WM_APP, 1);
  EXPECT_EQ(loop.ProcessPending(), 1u);
  EXPECT_TRUE(Readable(loop.WakeFd()));
  EXPECT_EQ(loop.ProcessPending(), 1u);
  EXPECT_FALSE(Readable(loop.WakeFd()));
  loop.Wake();
  EXPECT_TRUE(Readable(loop.WakeFd()));
}

TEST(MessageLoopTest, APostFromAHandlerWaitsForTheNextPassAndTheUnhandledAreFreed) {
  auto loop = std::make_unique<MessageLoop>();
  int handled = 0;
  loop->SetHandler([&](Message& m) {
    ++handled;
    if (m.wParam == 0) loop->PostMessage(WM_APP, 1, 0, std::string(100, 'x'));
  });
  loop->PostMessage(WM_APP, 0);
  EXPECT_EQ(loop->ProcessPending(), 1u);
  EXPECT_EQ(loop->PendingCount(), 1u);
  loop->PostMessage(WM_APP, 2, 0, std::string(100, 'y'));
  // Destroyed with one message taken into its queue and one still posted;
  // the leak checker of the sanitizer build sees both freed.
  loop.reset();
  EXPECT_EQ(handled, 1);
}

// A worker that posts and then waits for the reply lands its post while the
// owner is asleep or just clearing the event: none of them may be missed.
TEST(MessageLoopTest, PingPongWithAWorkerLosesNoWakeUp) {
  MessageLoop loop;
  constexpr int kRounds = 3000;
  std::atomic<int> answered{0};
  int received = 0;
  loop.SetHandler([&](Message&) { answered = ++received; });
  std::thread worker([&] {
    for (int i = 1; i <= kRounds; ++i) {
      loop.PostMessage(WM_APP, i);
      while (answered.load() < i) std::this_thread::yield();
    }
  });
  bool stalled = false;
  while (received < kRounds && !stalled) {
    loop.ProcessPending();
    if (received < kRounds && !loop.WaitForInput(5000)) stalled = true;
  }
  if (stalled) answered = kRounds;  // lets the worker finish
  worker.join();
  EXPECT_FALSE(stalled) << "no wake-up after " << received << " messages";
  EXPECT_EQ(received, kRounds);
}

}  // namespace

TEST(MessageLoopTest, APassLimitLeavesTheRestForTheNextPassAndTheWaitGetsItsTurn) {
  MessageLoop loop;
  int handled = 0;
  loop.SetHandler([&](Message&) {
    ++handled;
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  });
  loop.SetPassLimit(10);
  for (int i = 0; i < 20; ++i) loop.PostMessage(WM_USER);
  loop.ProcessPending();
  EXPECT_GE(handled, 1);
  EXPECT_LT(handled, 20);
  pollfd p{loop.WakeFd(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 1);  // the rest is still signalled

  // The replacing wait is offered a turn even with input waiting, then not
  // called again since there is input.
  std::vector<int> waits;
  loop.SetInputWait([&](int timeout_ms) { waits.push_back(timeout_ms); });
  EXPECT_TRUE(loop.WaitForInput(-1));
  EXPECT_EQ(waits, std::vector<int>{0});
  while (handled < 20) loop.ProcessPending();
  loop.SetInputWait(nullptr);
}
