#include "support/StageWatch.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(StageWatchTest, OnlyASlotBusyPastItsBoundIsStuck) {
  int64_t now = 0;
  StageWatch watch([&] { return now; });
  StageWatch::Slot writer(watch, "spool-writer", 60000);
  auto worker = std::make_unique<StageWatch::Slot>(watch, "face-worker-1", 30000);
  now = 1000000;  // long idle: never stuck
  EXPECT_EQ(watch.FirstStuck(), "");
  writer.Begin();
  worker->Begin();
  now += 30000;  // at the bound: not yet
  EXPECT_EQ(watch.FirstStuck(), "");
  now += 1000;
  EXPECT_EQ(watch.FirstStuck(), "face-worker-1 has worked on one item for 31 s, past its bound of 30 s");
  worker.reset();  // a thread that ends takes its slot along
  EXPECT_EQ(watch.FirstStuck(), "");
  now += 30000;
  EXPECT_EQ(watch.FirstStuck(), "spool-writer has worked on one item for 61 s, past its bound of 60 s");
  writer.End();
  EXPECT_EQ(watch.FirstStuck(), "");
}

}  // namespace
