// Whether every stage of the data path makes progress, for the service manager's watchdog. A
// thread of the data path holds a Slot, and says when it takes an item and when it is done
// with it; a slot that has held one item longer than its bound is stuck. An idle slot is
// never stuck, however long it waits for work.
// Slots are made, used and dropped by their own threads; Begin and End are one atomic store
// each. FirstStuck runs on the main thread. slotsLock_ guards the list of slots, never an item.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class StageWatch {
 public:
  using Clock = std::function<int64_t()>;  // milliseconds, never going back

  struct State {
    std::string name;
    int64_t boundMs = 0;
    std::atomic<int64_t> busySinceMs{0};  // 0: idle
  };

  // One thread's place in the watch; gone from it when destroyed.
  class Slot {
   public:
    Slot(StageWatch& watch, std::string name, int64_t boundMs);
    ~Slot();
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    void Begin();
    void End();

   private:
    StageWatch& watch_;
    std::shared_ptr<State> state_;
  };

  // Begin on construction, End on destruction; nothing without a slot (a thread that is not
  // watched, such as a test's).
  class Item {
   public:
    explicit Item(Slot* slot) : slot_(slot) {
      if (slot_ != nullptr) slot_->Begin();
    }
    ~Item() {
      if (slot_ != nullptr) slot_->End();
    }
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;

   private:
    Slot* const slot_;
  };

  explicit StageWatch(Clock clock = Clock());
  // The process's watch, read by the main loop's watchdog timer.
  static StageWatch& Default();

  // "NAME has worked on one item for N s, past its bound of B s" for the first stuck slot;
  // empty when every slot is idle or within its bound.
  std::string FirstStuck() const;

 private:
  int64_t NowMs() const;

  const Clock clock_;
  mutable std::mutex slotsLock_;
  std::vector<std::shared_ptr<State>> slots_;  // guarded by slotsLock_
};
