// All events share one process-wide mutex and condition variable: a wait for several events
// then needs no registration with each of them, and Set wakes every waiter, which checks its
// own events again. Events are few and waits are coarse, so the extra wake-ups are cheap.
#include "platform/Event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

namespace {

// Never destroyed: threads that outlive main may still set events.
std::mutex& EventMutex() {
  static auto* m = new std::mutex;
  return *m;
}

std::condition_variable& EventChanged() {
  static auto* cv = new std::condition_variable;
  return *cv;
}

}  // namespace

Event::Event(bool manualReset, bool initiallySignalled)
    : manualReset_(manualReset), signalled_(initiallySignalled) {}

void Event::Set() {
  {
    std::lock_guard<std::mutex> guard(EventMutex());
    signalled_ = true;
  }
  EventChanged().notify_all();
}

void Event::Reset() {
  std::lock_guard<std::mutex> guard(EventMutex());
  signalled_ = false;
}

bool Event::Wait(int timeoutMs) { return WaitForAny({this}, timeoutMs) == 0; }

int WaitForAny(std::initializer_list<Event*> events, int timeoutMs) {
  bool any = false;
  for (Event* e : events) any = any || e != nullptr;
  if (!any) return kWaitTimeout;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(EventMutex());
  for (;;) {
    int index = 0;
    for (Event* e : events) {
      if (e != nullptr && e->signalled_) {
        if (!e->manualReset_) e->signalled_ = false;
        return index;
      }
      ++index;
    }
    if (timeoutMs < 0) {
      EventChanged().wait(lock);
    } else if (std::chrono::steady_clock::now() >= deadline) {
      return kWaitTimeout;
    } else {
      EventChanged().wait_until(lock, deadline);
    }
  }
}

}  // namespace platform
