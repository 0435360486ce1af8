#include "pipeline/DuplicateFaceCache.h"

#include <algorithm>

bool DuplicateFaceCache::SeenOrRecord(const std::string& camera, int32_t faceId) {
  auto known = cameras_.find(camera);
  if (known == cameras_.end()) {
    if (cameras_.size() >= kMaxCameras) {
      cameras_.erase(byRecency_.back());
      byRecency_.pop_back();
    }
    byRecency_.push_front(camera);
    Camera& added = cameras_[camera];
    added.ids.push_back(faceId);
    added.lastSeen = byRecency_.begin();
    return false;
  }
  Camera& entry = known->second;
  byRecency_.splice(byRecency_.begin(), byRecency_, entry.lastSeen);
  std::list<int32_t>& ids = entry.ids;
  if (std::find(ids.begin(), ids.end(), faceId) != ids.end()) return true;
  if (ids.size() >= static_cast<uint32_t>(maxIds_)) ids.pop_front();
  ids.push_back(faceId);
  return false;
}
