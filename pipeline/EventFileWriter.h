// Writes the event file of a finished face snapshot: a small XML document in UTF-8 with CR LF
// line ends, delivered atomically into the event folder. Safe to call from any number of
// threads at once: the members are constant after construction and each call has its own
// document.
#pragma once

#include <string>

#include "pipeline/FaceSnapshot.h"

class EventFileWriter {
 public:
  // srcPath is the event folder, ending in a separator; vendorName goes into every document.
  EventFileWriter(std::string srcPath, std::string vendorName);
  EventFileWriter(const EventFileWriter&) = delete;
  EventFileWriter& operator=(const EventFileWriter&) = delete;

  // Writes one event file and logs the outcome; true when the file is in place. A file of the
  // same name is replaced. The snapshot is neither kept nor freed.
  bool WriteEventFile(const FaceSnapshot& snapshot) const;

  // The full path of the snapshot's event file, or "" when its time has no local-time form.
  std::string MakeEventFileName(const FaceSnapshot& snapshot) const;

  // The document text as printed, in the ANSI code page.
  std::string BuildEventXml(const FaceSnapshot& snapshot) const;

 private:
  // Constant after construction.
  const std::string srcPath_;
  const std::string vendorName_;
};
