#include "platform/CmdTarget.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class Counted : public CCmdTarget {
 public:
  explicit Counted(int* destroyed) : destroyed_(destroyed) {}
  ~Counted() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

class KeepsItself : public CCmdTarget {
 public:
  int finalReleases = 0;

 protected:
  void OnFinalRelease() override { ++finalReleases; }
};

TEST(CmdTargetTest, LastReleaseDeletesByDefault) {
  int destroyed = 0;
  auto* object = new Counted(&destroyed);
  EXPECT_EQ(object->ExternalAddRef(), 2);
  EXPECT_EQ(object->ExternalRelease(), 1);
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(object->ExternalRelease(), 0);
  EXPECT_EQ(destroyed, 1);
}

TEST(CmdTargetTest, ConcurrentReleasesRunTheFinalReleaseOnce) {
  KeepsItself object;
  constexpr int kThreads = 4;
  constexpr int kEach = 1000;
  for (int i = 0; i < kThreads * kEach; ++i) object.ExternalAddRef();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) object.ExternalRelease();
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(object.finalReleases, 0);
  EXPECT_EQ(object.ExternalRelease(), 0);
  EXPECT_EQ(object.finalReleases, 1);
}

}  // namespace
