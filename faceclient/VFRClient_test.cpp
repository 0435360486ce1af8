#include "faceclient/VFRClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>

#include "faceclient/FCSClient.h"
#include "faceclient/FRSClient.h"
#include "faceclient/FRSV2Client.h"
#include "faceclient/FaceClientFactory.h"
#include "faceclient/SnapshotLog.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ResultRecorder.h"

namespace {

// A client whose processing step marks the snapshot and can be held at a gate, so that a test
// can stop it while a "request" is in flight.
class GatedClient : public VFRClient {
 public:
  ~GatedClient() override = default;
  void CloseGate() {
    std::lock_guard<std::mutex> guard(mutex_);
    open_ = false;
  }
  void OpenGate() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  bool WaitUntilInside(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return inside_ >= count; });
  }
  // Signals the wake-up event with nothing queued.
  void WakeWithEmptyQueue() { queueEvent->Set(); }
  bool WakeEventSignalled() { return queueEvent->Wait(0); }
  bool finishedProcessing() const { return finished_; }

 protected:
  unsigned Run(Worker& worker) override { return RunStandardLoop(worker); }
  void ProcessSnapshot(Worker& /*worker*/, FaceSnapshot* snapshot) override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++inside_;
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::seconds(20), [&] { return open_; });
    snapshot->GroupId = kGroupVip;
    snapshot->PersonId = "p" + std::to_string(snapshot->FaceID);
    finished_ = true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
  int inside_ = 0;
  std::atomic<bool> finished_{false};
};

class VFRClientTest : public ::testing::Test {
 protected:
  VFRClientTest() : client_(new GatedClient()) {
    config_.Ip = "127.0.0.1";
    config_.Port = 1;
    client_->Init(&config_);
    client_->Start(results_);
  }
  ~VFRClientTest() override {
    client_->OpenGate();
    if (!stopped_) client_->Stop();
    client_->ExternalRelease();
  }
  void Stop() {
    stopped_ = true;
    client_->Stop();
  }

  FaceServiceConfig config_;
  ResultRecorder results_;
  GatedClient* client_;
  bool stopped_ = false;
  LogCapture log_;
};

TEST_F(VFRClientTest, SnapshotsAreProcessedOneByOneInArrivalOrderAndDeliveredOnce) {
  for (int id = 1; id <= 3; ++id) client_->PushSnapshot(NewSnapshot(id));
  ASSERT_TRUE(results_.WaitFor(3));
  Stop();
  const auto snapshots = results_.Snapshots();
  ASSERT_EQ(snapshots.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(snapshots[i].FaceID, i + 1);
    EXPECT_EQ(snapshots[i].GroupId, kGroupVip);
  }
  for (auto thread : results_.Threads()) EXPECT_NE(thread, std::this_thread::get_id());
}

TEST_F(VFRClientTest, AWakeUpWithAnEmptyQueueDoesNothingAndResetsTheEvent) {
  client_->WakeWithEmptyQueue();
  for (int i = 0; i < 200 && client_->WakeEventSignalled(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(client_->WakeEventSignalled());
  EXPECT_EQ(results_.Count(), 0u);
  client_->PushSnapshot(NewSnapshot(4));
  EXPECT_TRUE(results_.WaitFor(1));
}

TEST_F(VFRClientTest, StopWaitsForTheSnapshotInFlightAndItsCallback) {
  client_->CloseGate();
  client_->PushSnapshot(NewSnapshot(1));
  ASSERT_TRUE(client_->WaitUntilInside(1));
  auto stopping = std::async(std::launch::async, [this] { Stop(); });
  EXPECT_EQ(stopping.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  EXPECT_EQ(results_.Count(), 0u);
  client_->OpenGate();
  ASSERT_EQ(stopping.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  ASSERT_EQ(results_.Count(), 1u);
  EXPECT_EQ(results_.Snapshots()[0].GroupId, kGroupVip);  // finished, not given up
}

TEST_F(VFRClientTest, SnapshotsStillQueuedAtStopAreWrittenUnidentified) {
  client_->CloseGate();
  for (int id = 1; id <= 5; ++id) client_->PushSnapshot(NewSnapshot(id));
  ASSERT_TRUE(client_->WaitUntilInside(1));
  auto stopping = std::async(std::launch::async, [this] { Stop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  client_->OpenGate();
  ASSERT_EQ(stopping.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const auto snapshots = results_.Snapshots();
  ASSERT_EQ(snapshots.size(), 5u);
  EXPECT_EQ(snapshots[0].GroupId, kGroupVip);
  for (int i = 1; i < 5; ++i) {
    EXPECT_EQ(snapshots[i].FaceID, i + 1);
    EXPECT_EQ(snapshots[i].GroupId, kGroupNoAnswer);
    EXPECT_EQ(snapshots[i].PersonId, "");
  }
  EXPECT_EQ(log_.Count("Face client stopped with 4 queued snapshots; they are written without "
                       "identification",
                       LogCapture::kInfo),
            1);
}

TEST_F(VFRClientTest, ASnapshotPushedAfterStopIsWrittenAtOnce) {
  Stop();
  client_->PushSnapshot(NewSnapshot(9));
  ASSERT_EQ(results_.Count(), 1u);
  EXPECT_EQ(results_.Snapshots()[0].GroupId, kGroupNoAnswer);
  EXPECT_EQ(results_.Threads()[0], std::this_thread::get_id());
}

TEST_F(VFRClientTest, AFullQueueWritesTheNewestSnapshotAtOnceAndLogsEveryHundredth) {
  client_->CloseGate();
  client_->PushSnapshot(NewSnapshot(0));
  ASSERT_TRUE(client_->WaitUntilInside(1));
  const int queued = static_cast<int>(VFRClient::kMaxQueuedSnapshots);
  for (int id = 1; id <= queued; ++id) client_->PushSnapshot(NewSnapshot(id));
  EXPECT_EQ(results_.Count(), 0u);
  for (int id = 1; id <= 100; ++id) client_->PushSnapshot(NewSnapshot(100000 + id));
  ASSERT_EQ(results_.Count(), 100u);  // written on this thread, at once
  for (const auto& s : results_.Snapshots()) EXPECT_EQ(s.GroupId, kGroupNoAnswer);
  EXPECT_EQ(log_.CountContaining("Face client queue full"), 2);  // the first and the 100th
  client_->OpenGate();
  ASSERT_TRUE(results_.WaitFor(100 + 1 + queued, std::chrono::seconds(30)));
  Stop();
  EXPECT_EQ(results_.Count(), 100u + 1 + queued);
}

// Three workers are all inside a request when the stop comes: each finishes its own, and the
// queued rest is written unidentified, every snapshot exactly once.
TEST(VFRClientWorkers, AStopWithEveryWorkerInFlightWritesEverySnapshotOnce) {
  FaceServiceConfig config;
  config.Ip = "127.0.0.1";
  config.Port = 1;
  ResultRecorder results;
  LogCapture log;
  auto* client = new GatedClient();
  client->CloseGate();
  client->Init(&config);
  client->Start(results, 3);
  for (int id = 1; id <= 5; ++id) client->PushSnapshot(NewSnapshot(id));
  ASSERT_TRUE(client->WaitUntilInside(3));
  auto stopping = std::async(std::launch::async, [client] { client->Stop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  client->OpenGate();
  ASSERT_EQ(stopping.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  client->ExternalRelease();
  std::map<int, int32_t> groups;
  for (const auto& s : results.Snapshots()) EXPECT_TRUE(groups.emplace(s.FaceID, s.GroupId).second);
  EXPECT_EQ(groups, (std::map<int, int32_t>{{1, kGroupVip}, {2, kGroupVip}, {3, kGroupVip},
                                            {4, kGroupNoAnswer}, {5, kGroupNoAnswer}}));
  EXPECT_EQ(log.CountContaining("Face client stopped with 2 queued snapshots"), 1);
}

TEST(FaceClientFactory, TypeSelectsTheClientClass) {
  VFRClient* frs = CreateFaceClientForType(0);
  VFRClient* fcs = CreateFaceClientForType(1);
  VFRClient* v2 = CreateFaceClientForType(2);
  EXPECT_NE(dynamic_cast<FRSClient*>(frs), nullptr);
  EXPECT_NE(dynamic_cast<FCSClient*>(fcs), nullptr);
  EXPECT_NE(dynamic_cast<FRSV2Client*>(v2), nullptr);
  EXPECT_EQ(CreateFaceClientForType(7), nullptr);  // no face service
  for (VFRClient* c : {frs, fcs, v2}) c->ExternalRelease();
}

TEST(SnapshotLogLine, ALongLineIsCutButKeepsItsMarker) {
  const std::string body(5000, 'x');
  const std::string line = CutKeepingMarker("Process face snapshot: " + body + ", 7, 99 @1====",
                                            kSnapshotLineLong - 1);
  EXPECT_EQ(line.size(), kSnapshotLineLong - 1);
  EXPECT_EQ(line.substr(0, 23), "Process face snapshot: ");
  EXPECT_EQ(line.substr(line.size() - 6), "@1====");
  EXPECT_EQ(CutKeepingMarker("short @6====", 199), "short @6====");
  // No marker near the end: a plain cut.
  EXPECT_EQ(CutKeepingMarker(std::string(300, 'y'), 199), std::string(199, 'y'));
}

}  // namespace
