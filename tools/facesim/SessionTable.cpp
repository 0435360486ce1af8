#include "tools/facesim/SessionTable.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <random>

namespace facesim {

std::string NewUniqueId() {
  static std::atomic<uint64_t> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  char text[40];
  std::snprintf(text, sizeof text, "%016" PRIx64 "%016" PRIx64, static_cast<uint64_t>(random()),
                ++counter);
  return text;
}

std::string SessionTable::Open() {
  if (limit_ == 0) return NewUniqueId();
  if (open_.size() >= limit_) open_.pop_front();
  open_.push_back(NewUniqueId());
  return open_.back();
}

bool SessionTable::Contains(const std::string& id) const {
  return std::find(open_.begin(), open_.end(), id) != open_.end();
}

bool SessionTable::Close(const std::string& id) {
  const auto it = std::find(open_.begin(), open_.end(), id);
  if (it == open_.end()) return false;
  open_.erase(it);
  return true;
}

}  // namespace facesim
