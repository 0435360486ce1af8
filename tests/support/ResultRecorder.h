// Test helper: the event sink of a face client under test. It keeps a copy of every delivered
// snapshot, with the thread it came on, and lets the test wait for a count. WriteEventFile runs
// on the client's workers (or the pushing thread); mutex_ guards the record.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "pipeline/EventSink.h"
#include "records/FaceSnapshot.h"

class ResultRecorder : public EventSink {
 public:
  bool WriteEventFile(const FaceSnapshot& snapshot) const override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      snapshots_.push_back(snapshot);
      threads_.push_back(std::this_thread::get_id());
    }
    changed_.notify_all();
    return true;
  }
  // True when at least count snapshots were delivered within the bound.
  bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return snapshots_.size() >= count; });
  }
  std::vector<FaceSnapshot> Snapshots() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return snapshots_;
  }
  std::vector<std::thread::id> Threads() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return threads_;
  }
  std::size_t Count() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return snapshots_.size();
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  mutable std::vector<FaceSnapshot> snapshots_;   // guarded by mutex_
  mutable std::vector<std::thread::id> threads_;  // guarded by mutex_
};

// A snapshot as the intake hands it on.
inline FaceSnapshot* NewSnapshot(int faceId, const std::string& picture = "AAAA") {
  auto* snapshot = new FaceSnapshot();
  snapshot->FaceID = faceId;
  snapshot->PosId = "1001";
  snapshot->Picture = picture;
  return snapshot;
}
