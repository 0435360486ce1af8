#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace platform {
namespace {

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
  Event e(true, false);
  EXPECT_FALSE(e.Wait(0));
  e.Set();
  EXPECT_TRUE(e.Wait(0));
  EXPECT_TRUE(e.Wait(0));
  e.Reset();
  EXPECT_FALSE(e.Wait(0));
}

TEST(EventTest, AutoResetIsResetByTheWaitThatItSatisfies) {
  Event e(false, true);
  EXPECT_TRUE(e.Wait(0));
  EXPECT_FALSE(e.Wait(0));
  e.Set();
  e.Set();  // setting twice still releases one wait
  EXPECT_TRUE(e.Wait(0));
  EXPECT_FALSE(e.Wait(10));
}

TEST(EventTest, LowestSignalledEventWins) {
  Event stop(true, false);
  Event login(false, true);
  Event other(true, true);
  EXPECT_EQ(WaitForAny({&stop, &login, &other}, 0), 1);
  // The auto-reset event was consumed; the manual one behind it is next, and stays set.
  EXPECT_EQ(WaitForAny({&stop, &login, &other}, 0), 2);
  EXPECT_EQ(WaitForAny({&stop, &login, &other}, 0), 2);
  stop.Set();
  login.Set();
  EXPECT_EQ(WaitForAny({&stop, &login, &other}, 0), 0);
  // Only the winner is reset: the auto-reset event that lost is still signalled.
  EXPECT_EQ(WaitForAny({&login, &other}, 0), 0);
}

TEST(EventTest, WaitForAnySkipsNullAndTimesOut) {
  Event a(false, false);
  EXPECT_EQ(WaitForAny({nullptr, &a}, 20), kWaitTimeout);
  a.Set();
  EXPECT_EQ(WaitForAny({nullptr, &a}, 0), 1);
  EXPECT_EQ(WaitForAny({nullptr}, kInfinite), kWaitTimeout);
}

TEST(EventTest, SetFromAnotherThreadWakesAnInfiniteWait) {
  Event a(true, false);
  Event b(false, false);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    b.Set();
  });
  EXPECT_EQ(WaitForAny({&a, &b}, kInfinite), 1);
  setter.join();
  EXPECT_FALSE(b.Wait(0));
}

TEST(EventTest, OneSetOfAnAutoResetEventReleasesOneWaiter) {
  Event e(false, false);
  std::atomic<int> released{0};
  std::thread w1([&] { released += e.Wait(2000) ? 1 : 0; });
  std::thread w2([&] { released += e.Wait(2000) ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  e.Set();
  w1.join();
  w2.join();
  EXPECT_EQ(released.load(), 1);
}

}  // namespace
}  // namespace platform
