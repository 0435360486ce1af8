// Reference-counted base for objects shared between threads (device connections,
// the face client). The count starts at 1 for the creator; the release that brings
// it to 0 calls OnFinalRelease, whose default deletes the object.
// Any thread may add or release references; the count is atomic.
#pragma once

#include <atomic>

class CCmdTarget {
 public:
  CCmdTarget() = default;
  virtual ~CCmdTarget() = default;
  CCmdTarget(const CCmdTarget&) = delete;
  CCmdTarget& operator=(const CCmdTarget&) = delete;

  // Returns the new count.
  long ExternalAddRef();
  // Returns the new count; at 0 the object is gone when this returns.
  long ExternalRelease();

 protected:
  virtual void OnFinalRelease();

 private:
  std::atomic<long> refCount_{1};
};
