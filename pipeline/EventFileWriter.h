// Writes the event file of a finished face snapshot: a small XML document in UTF-8 with CR LF
// line ends, delivered atomically into the event folder. With KeepFailedWrites, a file that
// cannot be written waits in a backlog and is retried instead of being lost.
// WriteEventFile is safe to call from any number of threads at once: the members are constant
// after KeepFailedWrites (called before the first write) and each call has its own document;
// the backlog guards itself.
#pragma once

#include <memory>
#include <string>

#include "pipeline/EventFileBacklog.h"
#include "pipeline/EventSink.h"
#include "pipeline/FaceSnapshot.h"

class EventFileWriter : public EventSink {
 public:
  // srcPath is the event folder, ending in a separator; vendorName goes into every document.
  EventFileWriter(std::string srcPath, std::string vendorName);
  ~EventFileWriter() override;
  EventFileWriter(const EventFileWriter&) = delete;
  EventFileWriter& operator=(const EventFileWriter&) = delete;

  // From now on a file that cannot be written is kept and retried (delays for tests).
  void KeepFailedWrites(int firstDelayMs = EventBacklogLimits::kFirstDelayMs,
                        int maxDelayMs = EventBacklogLimits::kMaxDelayMs);
  // Tries the kept files once more and names in the log those that still cannot be written.
  void StopKeeping();
  // Files waiting to be written.
  std::size_t KeptCount() const;

  // Writes one event file and logs the outcome; true when the file is in place. A file of the
  // same name is replaced. The snapshot is neither kept nor freed. While kept files wait, a new
  // one is kept behind them, so that the files arrive in order.
  bool WriteEventFile(const FaceSnapshot& snapshot) const override;

  // The full path of the snapshot's event file, or "" when its time has no local-time form.
  std::string MakeEventFileName(const FaceSnapshot& snapshot) const;

  // The document text as printed, in the ANSI code page.
  std::string BuildEventXml(const FaceSnapshot& snapshot) const;

 private:
  // Constant after construction.
  const std::string srcPath_;
  const std::string vendorName_;
  std::unique_ptr<EventFileBacklog> backlog_;  // set before the first write, or never
};
