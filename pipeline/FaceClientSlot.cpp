#include "pipeline/FaceClientSlot.h"

#include "support/LogHelper.h"

FaceClientSlot::FaceClientSlot(Factory factory) : factory_(std::move(factory)) {}

SnapshotConsumer* FaceClientSlot::GetOrCreate() {
  std::lock_guard<std::mutex> guard(creationMutex_);
  if (!created_) {
    created_ = true;
    client_ = factory_ ? factory_() : nullptr;
  }
  return client_;
}

SnapshotConsumer* FaceClientSlot::Get() {
  std::lock_guard<std::mutex> guard(creationMutex_);
  return client_;
}

SnapshotConsumer* FaceClientSlot::Take() {
  std::lock_guard<std::mutex> guard(creationMutex_);
  created_ = true;
  SnapshotConsumer* client = client_;
  client_ = nullptr;
  return client;
}

bool FaceClientSlot::Offer(FaceSnapshot* snapshot, int faceServiceType) {
  if (SnapshotConsumer* client = GetOrCreate()) {
    client->PushSnapshot(snapshot);
    return true;
  }
  if (!warnedNoClient_.exchange(true)) {
    CLogHelper::GetInstance()->LogInfoF(
        "No face client exists for face service type %d; event files are written without "
        "identification",
        faceServiceType);
  }
  return false;
}
