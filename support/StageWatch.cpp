#include "support/StageWatch.h"

#include <algorithm>
#include <chrono>

#include "support/StringFormat.h"

StageWatch::Slot::Slot(StageWatch& watch, std::string name, int64_t boundMs)
    : watch_(watch), state_(std::make_shared<State>()) {
  state_->name = std::move(name);
  state_->boundMs = boundMs;
  std::lock_guard<std::mutex> guard(watch_.slotsLock_);
  watch_.slots_.push_back(state_);
}

StageWatch::Slot::~Slot() {
  std::lock_guard<std::mutex> guard(watch_.slotsLock_);
  auto& slots = watch_.slots_;
  slots.erase(std::remove(slots.begin(), slots.end(), state_), slots.end());
}

// A clock that reads 0 is taken as 1, so that a busy slot never looks idle.
void StageWatch::Slot::Begin() { state_->busySinceMs.store(std::max<int64_t>(1, watch_.NowMs())); }

void StageWatch::Slot::End() { state_->busySinceMs.store(0); }

StageWatch::StageWatch(Clock clock) : clock_(std::move(clock)) {}

StageWatch& StageWatch::Default() {
  static StageWatch* watch = new StageWatch();  // lives until the process ends
  return *watch;
}

int64_t StageWatch::NowMs() const {
  if (clock_) return clock_();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string StageWatch::FirstStuck() const {
  const int64_t now = NowMs();
  std::lock_guard<std::mutex> guard(slotsLock_);
  for (const auto& slot : slots_) {
    const int64_t since = slot->busySinceMs.load();
    if (since != 0 && now - since > slot->boundMs) {
      return StringFormat("%s has worked on one item for %lld s, past its bound of %lld s",
                          slot->name.c_str(), static_cast<long long>((now - since) / 1000),
                          static_cast<long long>(slot->boundMs / 1000));
    }
  }
  return std::string();
}
