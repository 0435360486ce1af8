#include "platform/MessageLoop.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "platform/Thread.h"

namespace platform {
namespace {

struct Dispatched {
  MessageId message;
  WParam wParam;
  LParam lParam;
  std::thread::id thread;
};

class RecordingHandler : public MessageHandler {
 public:
  std::function<void(MessageId, WParam, LParam)> onMessage;
  std::vector<Dispatched> seen;

  void HandleMessage(MessageId message, WParam wParam, LParam lParam) override {
    seen.push_back(Dispatched{message, wParam, lParam, std::this_thread::get_id()});
    if (onMessage) onMessage(message, wParam, lParam);
  }

  int Count(MessageId message) const {
    int n = 0;
    for (const Dispatched& d : seen) n += d.message == message ? 1 : 0;
    return n;
  }
};

// Ends a RunModal that would otherwise never end, so a broken loop fails instead of hanging.
class Watchdog {
 public:
  explicit Watchdog(MessageLoop& loop)
      : thread_([this, &loop] {
          if (!done_.Wait(20000)) loop.PostQuit(-99);
        }) {}
  ~Watchdog() {
    done_.Set();
    thread_.join();
  }

 private:
  Event done_{true, false};
  std::thread thread_;
};

constexpr MessageId kMsgA = kMsgUser + 1;
constexpr MessageId kMsgB = kMsgUser + 2;

TEST(MessageLoopTest, PostedMessagesAreDispatchedInOrderOnTheLoopThread) {
  MessageLoop loop;
  RecordingHandler handler;
  Watchdog watchdog(loop);
  constexpr int kPosters = 3;
  constexpr int kEach = 200;
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p) {
    posters.emplace_back([&loop, p] {
      for (int i = 0; i < kEach; ++i) loop.Post(kMsgA, static_cast<WParam>(p), i);
    });
  }
  std::thread finisher([&] {
    for (std::thread& t : posters) t.join();
    loop.PostQuit(5);
  });
  EXPECT_EQ(loop.RunModal(handler), 5);
  finisher.join();

  ASSERT_EQ(handler.seen.size(), static_cast<std::size_t>(kPosters * kEach));
  std::vector<LParam> next(kPosters, 0);
  for (const Dispatched& d : handler.seen) {
    EXPECT_EQ(d.thread, std::this_thread::get_id());
    ASSERT_LT(d.wParam, static_cast<WParam>(kPosters));
    EXPECT_EQ(d.lParam, next[d.wParam]++) << "poster " << d.wParam;
  }
}

TEST(MessageLoopTest, QuitReturnsItsCodeAndLeavesLaterMessagesQueued) {
  MessageLoop loop;
  RecordingHandler handler;
  loop.Post(kMsgA, 1, 2);
  loop.PostQuit(-1);
  loop.Post(kMsgB, 3, 4);
  EXPECT_EQ(loop.RunModal(handler), -1);
  ASSERT_EQ(handler.seen.size(), 1u);
  EXPECT_EQ(handler.seen[0].message, kMsgA);
  EXPECT_EQ(handler.seen[0].wParam, 1u);
  EXPECT_EQ(handler.seen[0].lParam, 2);

  // What followed the quit is still there for the pump.
  EXPECT_TRUE(loop.PumpOne());
  EXPECT_EQ(handler.seen.back().message, kMsgB);
  EXPECT_FALSE(loop.PumpOne());
}

TEST(MessageLoopTest, CloseIsHandledThenEndsTheRunWithZero) {
  MessageLoop loop;
  RecordingHandler handler;
  loop.Post(kMsgClose, 0, 0);
  loop.Post(kMsgA, 0, 0);
  EXPECT_EQ(loop.RunModal(handler), 0);
  ASSERT_EQ(handler.seen.size(), 1u);
  EXPECT_EQ(handler.seen[0].message, kMsgClose);
}

TEST(MessageLoopTest, TimerFiresRepeatedlyUntilKilled) {
  MessageLoop loop;
  RecordingHandler handler;
  Watchdog watchdog(loop);
  int ticks = 0;
  handler.onMessage = [&](MessageId message, WParam wParam, LParam) {
    if (message == kMsgTimer && wParam == 1 && ++ticks == 3) {
      loop.KillTimer(1);
      loop.SetTimer(2, 100);  // a later timer proves that timer 1 stays quiet
    } else if (message == kMsgTimer && wParam == 2) {
      loop.KillTimer(2);
      loop.PostQuit(0);
    }
  };
  loop.SetTimer(1, 20);
  EXPECT_EQ(loop.RunModal(handler), 0);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(handler.Count(kMsgTimer), 4);
  EXPECT_EQ(handler.seen.back().wParam, 2u);
}

TEST(MessageLoopTest, TicksDoNotPileUpWhileTheLoopIsBusy) {
  MessageLoop loop;
  RecordingHandler handler;
  loop.PostQuit(0);
  ASSERT_EQ(loop.RunModal(handler), 0);  // gives the pump its handler
  // Three periods pass while nobody serves the loop.
  loop.SetTimer(9, 500);
  SleepMs(1600);
  EXPECT_TRUE(loop.PumpOne());
  EXPECT_EQ(handler.seen.back().message, kMsgTimer);
  EXPECT_FALSE(loop.PumpOne());
  EXPECT_EQ(handler.Count(kMsgTimer), 1);
}

TEST(MessageLoopTest, PumpOneWithoutAHandlerLeavesTheQueueAlone) {
  MessageLoop loop;
  loop.Post(kMsgA, 0, 0);
  EXPECT_FALSE(loop.PumpOne());
  RecordingHandler handler;
  loop.PostQuit(3);
  EXPECT_EQ(loop.RunModal(handler), 3);
  EXPECT_EQ(handler.Count(kMsgA), 1);
}

TEST(MessageLoopTest, CloseOrQuitReachedByANestedPumpEndsTheRun) {
  MessageLoop loop;
  RecordingHandler handler;
  Watchdog watchdog(loop);
  handler.onMessage = [&](MessageId message, WParam, LParam) {
    if (message == kMsgA) {
      // A handler that waits and keeps serving messages, as a shutdown wait does.
      while (loop.PumpOne()) {
      }
    }
  };
  loop.Post(kMsgA, 0, 0);
  loop.Post(kMsgB, 0, 0);
  loop.Post(kMsgClose, 0, 0);
  loop.Post(kMsgB, 0, 0);
  EXPECT_EQ(loop.RunModal(handler), 0);
  // Inside the pump everything was served, the close included; the run then ended.
  EXPECT_EQ(handler.Count(kMsgClose), 1);
  EXPECT_EQ(handler.Count(kMsgB), 2);

  loop.Post(kMsgA, 0, 0);
  loop.PostQuit(12);
  loop.Post(kMsgB, 0, 0);
  EXPECT_EQ(loop.RunModal(handler), 12);
  EXPECT_EQ(handler.Count(kMsgB), 3);
  EXPECT_EQ(handler.Count(kMsgQuit), 0);  // a quit is never handed to the handler

  // Outside a modal run (a teardown that pumps) a close or quit ends nothing later on.
  loop.Post(kMsgClose, 0, 0);
  loop.PostQuit(4);
  EXPECT_TRUE(loop.PumpOne());
  EXPECT_TRUE(loop.PumpOne());
  loop.PostQuit(6);
  EXPECT_EQ(loop.RunModal(handler), 6);
}

TEST(MessageLoopTest, MainLoopReceivesPostsUntilItIsGone) {
  EXPECT_FALSE(MessageLoop::PostToMain(kMsgA, 0, 0));
  RecordingHandler handler;
  {
    MessageLoop loop;
    MessageLoop::SetMain(&loop);
    EXPECT_EQ(MessageLoop::Main(), &loop);
    std::thread poster([] { EXPECT_TRUE(MessageLoop::PostToMain(kMsgClose, 7, 8)); });
    poster.join();
    EXPECT_EQ(loop.RunModal(handler), 0);
  }
  EXPECT_EQ(MessageLoop::Main(), nullptr);
  EXPECT_FALSE(MessageLoop::PostToMain(kMsgA, 0, 0));
  ASSERT_EQ(handler.seen.size(), 1u);
  EXPECT_EQ(handler.seen[0].wParam, 7u);
}

}  // namespace
}  // namespace platform
