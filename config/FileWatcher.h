// Notices edits of configuration files by polling their versions: any other last-write time
// (later or earlier, as a restored backup has), size or inode is a change. One watcher serves
// the process (Instance, created on first use and destroyed at process end); tests may make
// their own with a shorter period.
// Threads: Watch and Add may be called from any thread, callbacks included: the callbacks run
// on the polling thread once the pass has released mutex. mutex guards entries and the
// missing-file marks; it is held during a registration and during each whole polling pass,
// never while a callback or a log call runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Event.h"
#include "platform/FileStatus.h"
#include "platform/Thread.h"

// Thrown by a registration whose pattern matches nothing.
class WatchedFileSystemExc : public std::exception {
 public:
  explicit WatchedFileSystemExc(const std::string& path);
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

using WatchCallback = std::function<void(const std::string& path)>;
using WatchListCallback = std::function<void(const std::vector<std::string>& paths)>;

// One registered path: a plain file, or a folder and a file-name pattern with one '*'.
struct WatchedFile {
  std::string path;
  std::string filter;  // empty for a plain file
  WatchCallback callback;
  WatchListCallback listCallback;
  std::map<std::string, platform::FileVersion> versions;  // seen for each file looked at
};

class FileWatcher {
 public:
  static constexpr int kPollPeriodMs = 500;

  explicit FileWatcher(int pollPeriodMs = kPollPeriodMs);
  // Stops the polling thread (waking it from its sleep) before the table goes.
  ~FileWatcher();
  FileWatcher(const FileWatcher&) = delete;
  FileWatcher& operator=(const FileWatcher&) = delete;

  // The process-wide watcher; its creation is safe against concurrent first use.
  static FileWatcher& Instance();
  // Registers the path with the process-wide watcher.
  static void Watch(const std::string& path, WatchCallback callback);

  // Adds the path unless its text is registered already (then nothing changes: the first
  // callback is kept), and starts the polling thread on first use. A path containing '*' is a
  // pattern: its last component is the file-name filter and the rest the folder; the matching
  // files are recorded and reported at once. Throws WatchedFileSystemExc when nothing matches.
  void Add(const std::string& path, WatchCallback callback, WatchListCallback listCallback = {});

 private:
  // A report to make once the pass has released mutex.
  struct Report {
    WatchCallback callback;          // called with path when set
    WatchListCallback listCallback;  // otherwise called with paths
    std::string path;
    std::vector<std::string> paths;
  };

  static unsigned PollThreadMain(void* self);
  void StartPolling();
  void Poll();
  void CheckPlainFile(WatchedFile& entry, std::vector<Report>& reports,
                      std::vector<std::string>& notes);
  void CheckPattern(WatchedFile& entry, std::vector<Report>& reports);
  static void Deliver(const Report& report);

  // Constant after construction.
  const int pollPeriodMs_;

  std::atomic<bool> started_{false};            // set by the first registration, never cleared
  std::atomic<bool> running{false};             // set with started_, cleared by the destructor
  platform::Event stopRequested_{true, false};  // wakes the polling thread from its sleep
  // Created once, by the registration that set started_; joined by the destructor.
  std::unique_ptr<platform::Thread> pollThread;

  // Guarded by mutex.
  std::mutex mutex;
  std::map<std::string, WatchedFile> entries;
  std::set<std::string> missing_;  // plain paths that could not be looked at in the last pass
};
