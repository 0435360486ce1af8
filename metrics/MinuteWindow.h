// Counts per minute over the last hour, for figures such as "events written in the last hour"
// that a counter since start cannot give. Each slot packs its minute and its count into one
// atomic word, so Add and Sum are lock-free and safe from any thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace metrics {

class MinuteWindow {
 public:
  static constexpr int kMinutes = 61;

  // minute: whole minutes since 1970.
  void Add(int64_t minute) {
    std::atomic<uint64_t>& slot = slots_[minute % kMinutes];
    const uint64_t stamp = static_cast<uint64_t>(minute) << 32;
    uint64_t seen = slot.load(std::memory_order_relaxed);
    uint64_t next;
    do {
      next = (seen & kStampMask) == stamp ? seen + 1 : stamp + 1;
    } while (!slot.compare_exchange_weak(seen, next, std::memory_order_relaxed));
  }

  // The counts of this minute and the minutes - 1 before it (minutes at most kMinutes).
  uint64_t Sum(int64_t minute, int minutes) const {
    uint64_t sum = 0;
    for (int back = 0; back < minutes && back <= minute; ++back) {
      const uint64_t value = slots_[(minute - back) % kMinutes].load(std::memory_order_relaxed);
      if ((value & kStampMask) == static_cast<uint64_t>(minute - back) << 32) {
        sum += value & ~kStampMask;
      }
    }
    return sum;
  }

 private:
  static constexpr uint64_t kStampMask = 0xFFFFFFFF00000000ull;
  std::atomic<uint64_t> slots_[kMinutes] = {};
};

}  // namespace metrics
