// The one face client of the process. Start-up and the intake (on the SDK callback thread) may
// both ask for it; whichever asks first creates it, and never more than one is created.
// Get and GetOrCreate are safe from any thread; creationMutex_ guards the creation.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "records/FaceSnapshot.h"

// What the intake hands accepted snapshots to when a face service is configured.
class SnapshotConsumer {
 public:
  virtual ~SnapshotConsumer() = default;
  // Takes ownership of the snapshot; never waits for the service.
  virtual void PushSnapshot(FaceSnapshot* snapshot) = 0;
};

class FaceClientSlot {
 public:
  // Creates, initialises and starts the client; returns null when no client can be made.
  using Factory = std::function<SnapshotConsumer*()>;

  explicit FaceClientSlot(Factory factory);
  FaceClientSlot(const FaceClientSlot&) = delete;
  FaceClientSlot& operator=(const FaceClientSlot&) = delete;

  // The client, created by the first call. A factory that made nothing is not asked again.
  SnapshotConsumer* GetOrCreate();
  // The client if one was created, else null; never creates.
  SnapshotConsumer* Get();
  // Hands the snapshot to the client (created by the first call); false, with one log line the
  // first time, when there is no client for a face service of the type.
  bool Offer(FaceSnapshot* snapshot, int faceServiceType);
  // Hands the client to the caller for its teardown; afterwards the slot holds none and
  // creates none.
  SnapshotConsumer* Take();

 private:
  const Factory factory_;
  std::mutex creationMutex_;
  bool created_ = false;                // guarded by creationMutex_
  SnapshotConsumer* client_ = nullptr;  // guarded by creationMutex_; owned by the factory's caller
  std::atomic<bool> warnedNoClient_{false};
};
