// The duplicate-face memory of the intake: per camera address, its most recent distinct face
// ids, oldest first. The addresses come from the alarms themselves, so their number is bounded:
// past kMaxCameras, the address least recently seen is forgotten first.
// Not thread-safe: the intake guards it with its own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

class DuplicateFaceCache {
 public:
  static constexpr std::size_t kMaxCameras = 4096;

  // maxIds per camera, compared as unsigned; a camera always keeps at least its newest id.
  explicit DuplicateFaceCache(int32_t maxIds) : maxIds_(maxIds) {}

  // True when the camera sent this face id recently (the list is left as it is); otherwise
  // records the id, dropping the camera's oldest one when its list is full.
  bool SeenOrRecord(const std::string& camera, int32_t faceId);
  std::size_t CameraCount() const { return cameras_.size(); }

 private:
  struct Camera {
    std::list<int32_t> ids;                     // oldest first
    std::list<std::string>::iterator lastSeen;  // its place in byRecency_
  };

  const int32_t maxIds_;
  std::unordered_map<std::string, Camera> cameras_;
  std::list<std::string> byRecency_;  // most recently seen first
};
