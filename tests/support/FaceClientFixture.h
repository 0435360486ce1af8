// Test fixture for one face client against a FakeFaceService: the client is bound to the fake
// service, started with a ResultRecorder as its event sink, and stopped and released at the
// end. The test thread drives it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "config/FaceServiceConfig.h"
#include "faceclient/VFRClient.h"
#include "tests/support/FakeFaceService.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ResultRecorder.h"

template <typename Client>
class FaceClientFixture : public ::testing::Test {
 protected:
  FaceClientFixture() {
    config_.Ip = "127.0.0.1";
    config_.Port = service_.Port();
    config_.UserName = "user";
    config_.Password = "pw";
    config_.Score = 0.8;
    config_.AccountId = "acc-1";
    config_.AccessKey = "key-1";
    config_.Type = 1;
  }
  ~FaceClientFixture() override { StopClient(); }

  Client& StartClient() {
    client_ = new Client();
    client_->SetClock([this] { return now_.load(); });
    if (prepare_) prepare_(*client_);
    client_->Init(&config_);
    client_->Start(results_, workers_);
    return *client_;
  }
  void StopClient() {
    if (client_ == nullptr) return;
    client_->Stop();
    client_->ExternalRelease();
    client_ = nullptr;
  }
  // Pushes one snapshot and returns it as it was delivered.
  FaceSnapshot Identify(int faceId) {
    if (client_ == nullptr) StartClient();
    const std::size_t before = results_.Count();
    client_->PushSnapshot(NewSnapshot(faceId));
    EXPECT_TRUE(results_.WaitFor(before + 1)) << "no delivery for face " << faceId;
    const auto snapshots = results_.Snapshots();
    return snapshots.size() > before ? snapshots[before] : FaceSnapshot{};
  }

  // The seconds clock of the client; tests move it.
  std::atomic<int64_t> now_{1700000000};
  int workers_ = 1;
  // Runs on the new client before it starts.
  std::function<void(Client&)> prepare_;
  FakeFaceService service_;
  FaceServiceConfig config_;
  ResultRecorder results_;
  LogCapture log_;
  Client* client_ = nullptr;
};
