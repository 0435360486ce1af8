#include "platform/Thread.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <thread>

#include "platform/Event.h"

namespace platform {
namespace {

struct Probe {
  std::atomic<bool> ran{false};
  Event release{true, false};
  char name[32] = {};
};

unsigned MarkAndReturn42(void* arg) {
  static_cast<Probe*>(arg)->ran = true;
  return 42;
}

unsigned WaitForRelease(void* arg) {
  auto* probe = static_cast<Probe*>(arg);
  pthread_getname_np(pthread_self(), probe->name, sizeof probe->name);
  probe->ran = true;
  return probe->release.Wait(10000) ? 7 : 99;
}

TEST(ThreadTest, RunsOnlyAfterResumeAndReportsExitCode) {
  Probe probe;
  Thread thread("worker", MarkAndReturn42, &probe);
  SleepMs(30);
  EXPECT_FALSE(probe.ran);
  EXPECT_FALSE(thread.Join(0));
  thread.Resume();
  ASSERT_TRUE(thread.Join(10000));
  EXPECT_TRUE(probe.ran);
  EXPECT_EQ(thread.ExitCode(), 42u);
  EXPECT_TRUE(thread.Join(0));  // joining again still reports the end
}

TEST(ThreadTest, TimedJoinSaysWhetherTheThreadEnded) {
  Probe probe;
  Thread thread("waiter", WaitForRelease, &probe, Thread::Priority::AboveNormal);
  thread.Resume();
  EXPECT_FALSE(thread.Join(50));
  probe.release.Set();
  ASSERT_TRUE(thread.Join(kInfinite));
  EXPECT_EQ(thread.ExitCode(), 7u);
}

TEST(ThreadTest, NeverResumedThreadDoesNotRunAndDestroysAtOnce) {
  Probe probe;
  { Thread thread("idle", MarkAndReturn42, &probe); }
  SleepMs(20);
  EXPECT_FALSE(probe.ran);
}

TEST(ThreadTest, DestructorWaitsForARunningThread) {
  Probe probe;
  std::thread releaser([&] {
    SleepMs(50);
    probe.release.Set();
  });
  {
    Thread thread("joined", WaitForRelease, &probe);
    thread.Resume();
  }
  EXPECT_TRUE(probe.ran);
  EXPECT_TRUE(probe.release.Wait(0));
  releaser.join();
}

struct SelfDeleting {
  Thread* thread = nullptr;
  Event deleted{true, false};
};

unsigned DeleteOwnThread(void* arg) {
  auto* self = static_cast<SelfDeleting*>(arg);
  delete self->thread;
  self->deleted.Set();
  return 0;
}

TEST(ThreadTest, ProcedureMayDestroyItsOwnThreadObject) {
  SelfDeleting self;
  self.thread = new Thread("self-deleting", DeleteOwnThread, &self);
  self.thread->Resume();
  EXPECT_TRUE(self.deleted.Wait(10000));
  SleepMs(20);  // lets the detached OS thread finish under the sanitizers' eyes
}

TEST(ThreadTest, SystemToolsSeeTheFirst15CharactersOfTheName) {
  Probe probe;
  probe.release.Set();
  Thread thread("device-10.0.0.1-online", WaitForRelease, &probe);
  thread.Resume();
  ASSERT_TRUE(thread.Join(10000));
  EXPECT_STREQ(probe.name, "device-10.0.0.1");
}

}  // namespace
}  // namespace platform
