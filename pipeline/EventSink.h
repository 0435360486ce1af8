// Where a finished face snapshot goes: its event file is written. EventFileWriter is the one
// in production; WriteEventFile may be called from any number of threads at once.
#pragma once

#include "records/FaceSnapshot.h"

class EventSink {
 public:
  virtual ~EventSink() = default;
  // Writes the snapshot's event file; true when it is in place. The snapshot is neither kept
  // nor freed.
  virtual bool WriteEventFile(const FaceSnapshot& snapshot) const = 0;
};
