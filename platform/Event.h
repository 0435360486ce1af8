// Events in the style of the host system: manual-reset or auto-reset, set and reset
// from any thread, and a wait for the first of several events.
// Every operation is safe to call from any thread.
#pragma once

#include <initializer_list>

namespace platform {

constexpr int kWaitTimeout = -1;
constexpr int kInfinite = -1;

class Event {
 public:
  Event(bool manualReset, bool initiallySignalled);
  ~Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // Waits until signalled or timeoutMs passes (kInfinite: no limit).
  // Returns true when signalled; an auto-reset event is reset by the wait.
  bool Wait(int timeoutMs);

 private:
  friend int WaitForAny(std::initializer_list<Event*> events, int timeoutMs);
  const bool manualReset_;
  bool signalled_;  // guarded by the process-wide event mutex
};

// Waits for the first of the events. Returns the index of the lowest-numbered
// signalled event, or kWaitTimeout. A satisfying auto-reset event is reset.
// Null entries are skipped.
int WaitForAny(std::initializer_list<Event*> events, int timeoutMs);

}  // namespace platform
