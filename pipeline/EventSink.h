// Where a finished face snapshot goes: its event file is written. The spool is the one in
// production (it publishes the file from the spool); EventFileWriter writes it straight into
// the event folder. WriteEventFile may be called from any number of threads at once.
#pragma once

#include "records/FaceSnapshot.h"

class EventSink {
 public:
  virtual ~EventSink() = default;
  // Writes the snapshot's event file; true when it is in place or durably on its way there.
  // The snapshot is neither kept nor freed.
  virtual bool WriteEventFile(const FaceSnapshot& snapshot) const = 0;
};
