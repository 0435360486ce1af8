// A recursive lock and its scoped guard. The same thread may lock it again while it
// holds it; every Lock is matched by one Unlock, which ScopedLock does for you.
#pragma once

#include <mutex>

namespace platform {

class CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Lock() { mutex_.lock(); }
  // Takes the lock only when that needs no wait; true when it is now held.
  bool TryLock() { return mutex_.try_lock(); }
  void Unlock() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection& cs) : cs_(cs) { cs_.Lock(); }
  // Takes over a lock that the caller already holds (from TryLock).
  ScopedLock(CriticalSection& cs, std::adopt_lock_t) : cs_(cs) {}
  ~ScopedLock() { cs_.Unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection& cs_;
};

}  // namespace platform
