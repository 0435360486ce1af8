// Makes the event file of a finished face snapshot: a small XML document in UTF-8 with CR LF
// line ends, named after the POS id, the face id and the camera time. The spool publishes it;
// WriteEventFile delivers it atomically into the event folder by itself.
// Every member is safe to call from any number of threads at once: the members are constant
// and each call has its own document.
#pragma once

#include <string>

#include "pipeline/EventSink.h"
#include "records/FaceSnapshot.h"

class EventFileWriter : public EventSink {
 public:
  // srcPath is the event folder, ending in a separator; vendorName goes into every document.
  EventFileWriter(std::string srcPath, std::string vendorName);
  ~EventFileWriter() override;
  EventFileWriter(const EventFileWriter&) = delete;
  EventFileWriter& operator=(const EventFileWriter&) = delete;

  // Writes one event file and logs the outcome; true when the file is in place. A file of the
  // same name is replaced. The snapshot is neither kept nor freed.
  bool WriteEventFile(const FaceSnapshot& snapshot) const override;

  // The event file's name in the event folder and its UTF-8 text, checked to read back as a
  // document; false with *failure (and an ERROR line when the document is bad) when the
  // snapshot can have no event file.
  bool RenderEventFile(const FaceSnapshot& snapshot, std::string* name, std::string* utf8,
                       std::string* failure) const;
  // The event folder, ending in a separator.
  const std::string& Folder() const { return srcPath_; }

  // The full path of the snapshot's event file, or "" when its time has no local-time form.
  std::string MakeEventFileName(const FaceSnapshot& snapshot) const;
  // The same name without the folder.
  static std::string EventFileLeafName(const FaceSnapshot& snapshot);

  // The document text as printed, in the ANSI code page.
  std::string BuildEventXml(const FaceSnapshot& snapshot) const;

 private:
  // Constant after construction.
  const std::string srcPath_;
  const std::string vendorName_;
};
