// What the configuration watcher and the site check ask of the file system beyond reading and
// writing files: a file's last-write time at full resolution, a folder's entries, and the free
// space under a folder. Stateless; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The last-write time of the file (links followed) in nanoseconds since the epoch. False when
// the file cannot be looked at (missing, or a folder on its path cannot be searched).
bool GetLastWriteTime(const std::string& path, int64_t* nanoseconds);

// What tells one state of a file from another: any difference in any field is a change, in
// either direction (a file replaced by an older copy has an earlier time and a new inode).
struct FileVersion {
  int64_t writeTimeNs = 0;
  uint64_t size = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileVersion& o) const {
    return writeTimeNs == o.writeTimeNs && size == o.size && device == o.device && inode == o.inode;
  }
  bool operator!=(const FileVersion& o) const { return !(*this == o); }
};
// The file's version (links followed); false as GetLastWriteTime.
bool GetFileVersion(const std::string& path, FileVersion* version);

// The names in the folder, "." and ".." left out, in no particular order. False when the
// folder cannot be read.
bool ListFolder(const std::string& path, std::vector<std::string>* names);

// Bytes that an unprivileged user may still write on the file system that holds path. False
// (with the system's error code) when it cannot be asked.
bool GetFreeSpace(const std::string& path, uint64_t* bytes, int* errorCode);

// Removes one file; true when it is gone afterwards.
bool RemoveFile(const std::string& path);

// The system's text for an error code.
std::string ErrorMessage(int errorCode);

}  // namespace platform
