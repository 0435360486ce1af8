// The file operations of a crash-safe queue, and nothing else: create a private file and sync
// its data, rename without replacing, remove, sync a folder, list and read. A queue built on
// this seam decides itself when each step must be durable; the seam only does the step and
// says whether it worked. Tests put a file system here that forgets what was never synced.
// Every operation is safe from any thread; the real implementation holds no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// What an operation came to. The kinds are those a queue reacts to differently.
struct FileResult {
  enum Kind {
    kOk,
    kExists,       // the target name is taken (a create or a no-replace rename)
    kNotFound,     // the file or a folder on its path is missing
    kNoSpace,      // the file system is full
    kReadOnly,     // not allowed here: read-only file system, or no permission
    kCrossDevice,  // a rename between two file systems
    kUnsupported,  // the file system cannot rename without replacing
    kOther,        // any other failure, EIO and a failed sync among them
  };
  Kind kind = kOk;
  std::string text;  // the system's reason, for the log

  bool Ok() const { return kind == kOk; }
  static FileResult Success() { return FileResult(); }
};

class DurableFiles {
 public:
  virtual ~DurableFiles() = default;

  // Creates folder (mode 0700, parents as needed) when missing, and narrows an existing one
  // to 0700. Fails when a link or a file stands in its place.
  virtual FileResult MakePrivateFolder(const std::string& folder) = 0;
  // Creates the missing levels of folder with the process's usual mode; an existing folder is
  // left as it is.
  virtual FileResult MakeFolder(const std::string& folder) = 0;
  // Who may read a file that WriteSynced creates: its owner only (0600), or whoever the
  // process's file mode creation mask lets (a file that another program collects).
  enum class Readers { kOwner, kUsual };
  // Creates folder/name (never through a link, never over an existing file), writes the
  // bytes and syncs its data to the disk before returning. On failure nothing is promised
  // about the file's content; the caller removes it.
  virtual FileResult WriteSynced(const std::string& folder, const std::string& name,
                                 const std::string& bytes, Readers readers) = 0;
  // One file for WriteAllSynced, and what came of it.
  struct NewFile {
    std::string name;
    const std::string* bytes = nullptr;
    FileResult result;
  };
  // WriteSynced for each file, with every file written before the first sync waits, so that
  // the disk takes the whole group at once.
  virtual void WriteAllSynced(const std::string& folder, std::vector<NewFile>& files,
                              Readers readers) = 0;
  // Renames fromFolder/fromName to toFolder/toName; with noReplace a taken target fails with
  // kExists and nothing changes.
  virtual FileResult Rename(const std::string& fromFolder, const std::string& fromName,
                            const std::string& toFolder, const std::string& toName,
                            bool noReplace) = 0;
  virtual FileResult Remove(const std::string& folder, const std::string& name) = 0;
  // Makes every change of the folder's entries made so far durable.
  virtual FileResult SyncFolder(const std::string& folder) = 0;
  // The regular files in folder with their sizes, in no particular order.
  struct Entry {
    std::string name;
    uint64_t size = 0;
  };
  virtual FileResult List(const std::string& folder, std::vector<Entry>* entries) = 0;
  // Reads folder/name (never through a link); a file larger than maxBytes fails.
  virtual FileResult Read(const std::string& folder, const std::string& name,
                          std::size_t maxBytes, std::string* bytes) = 0;
  // Bytes still free for an unprivileged writer on the file system that holds folder.
  virtual FileResult FreeBytes(const std::string& folder, uint64_t* bytes) = 0;
  // Whether both folders lie on one file system, so that a rename between them is atomic.
  virtual bool SameFileSystem(const std::string& a, const std::string& b) = 0;
};

// The real file system. One process-wide instance.
DurableFiles& RealDurableFiles();

}  // namespace platform
