#include "config/FileWatcher.h"

#include <limits>

#include "platform/FileStatus.h"
#include "support/LogHelper.h"

namespace {

// Stored for a file that was missing when it was first looked at. No file has this version: a file first seen missing reports once it appears.
const platform::FileVersion kNeverSeen{std::numeric_limits<int64_t>::min(), 0, 0, 0};

bool Contains(const std::string& text, const std::string& part) {
  return part.empty() || text.find(part) != std::string::npos;
}

}  // namespace

WatchedFileSystemExc::WatchedFileSystemExc(const std::string& path)
    : message_("Failed to find file or directory at: " + path) {}

FileWatcher::FileWatcher(int pollPeriodMs) : pollPeriodMs_(pollPeriodMs) {}

FileWatcher::~FileWatcher() {
  running = false;
  stopRequested_.Set();
  if (pollThread) pollThread->Join(platform::kInfinite);
}

FileWatcher& FileWatcher::Instance() {
  static FileWatcher watcher;
  return watcher;
}

void FileWatcher::Watch(const std::string& path, WatchCallback callback) {
  Instance().Add(path, std::move(callback));
}

// Starts the thread once in the watcher's life: a callback that registers a path while the
// destructor is stopping the thread must not start another.
void FileWatcher::StartPolling() {
  if (started_.exchange(true)) return;
  running = true;
  pollThread =
      std::make_unique<platform::Thread>("file watcher", &FileWatcher::PollThreadMain, this);
  pollThread->Resume();
}

namespace {

// A pattern path split into its folder and the two halves of its file-name filter.
struct Pattern {
  std::string folder;
  std::string filter;
  std::string before;  // the filter's text before '*'
  std::string after;   // and after it
};

Pattern SplitPattern(const std::string& path) {
  Pattern p;
  const std::size_t slash = path.find_last_of('/');
  p.folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  p.filter = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t star = p.filter.find('*');
  p.before = p.filter.substr(0, star);
  p.after = star == std::string::npos ? std::string() : p.filter.substr(star + 1);
  return p;
}

// Full paths of the folder's entries that match the filter, in name order; false when the
// folder cannot be read.
bool MatchingFiles(const std::string& folder, const std::string& before, const std::string& after,
                   std::vector<std::string>* matches) {
  std::vector<std::string> names;
  if (!platform::ListFolder(folder, &names)) return false;
  std::map<std::string, bool> sorted;
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  for (const std::string& name : names) {
    const std::string full = prefix + name;
    if (Contains(full, before) && Contains(full, after)) sorted[full] = true;
  }
  matches->clear();
  for (const auto& m : sorted) matches->push_back(m.first);
  return true;
}

}  // namespace

void FileWatcher::Add(const std::string& path, WatchCallback callback,
                      WatchListCallback listCallback) {
  WatchedFile entry;
  entry.path = path;
  entry.callback = std::move(callback);
  entry.listCallback = std::move(listCallback);
  std::vector<std::string> matches;
  if (path.find('*') != std::string::npos) {
    const Pattern pattern = SplitPattern(path);
    if (!MatchingFiles(pattern.folder, pattern.before, pattern.after, &matches) ||
        matches.empty()) {
      throw WatchedFileSystemExc(path);
    }
    entry.filter = pattern.filter;
    for (const std::string& match : matches) {
      platform::FileVersion version;
      if (platform::GetFileVersion(match, &version)) entry.versions[match] = version;
    }
  }

  Report report;
  bool patternAdded = false;
  {
    std::lock_guard<std::mutex> guard(mutex);
    if (entries.count(path) == 0) {
      const WatchedFile& added = entries.emplace(path, std::move(entry)).first->second;
      patternAdded = !added.filter.empty();
      if (patternAdded) report = Report{added.callback, added.listCallback, path, matches};
    }
  }
  // Started once the entry is in the table, so that the first pass already looks at it.
  StartPolling();
  if (patternAdded) Deliver(report);
}

unsigned FileWatcher::PollThreadMain(void* self) {
  auto* watcher = static_cast<FileWatcher*>(self);
  while (watcher->running) {
    try {
      watcher->Poll();
    } catch (const std::exception& e) {
      CLogHelper::GetInstance()->LogErrorF("File watcher pass failed: %.200s", e.what());
    }
    watcher->stopRequested_.Wait(watcher->pollPeriodMs_);
  }
  return 0;
}

void FileWatcher::Poll() {
  std::vector<Report> reports;
  std::vector<std::string> notes;
  {
    std::lock_guard<std::mutex> guard(mutex);
    for (auto& item : entries) {
      WatchedFile& entry = item.second;
      if (entry.filter.empty()) {
        CheckPlainFile(entry, reports, notes);
      } else {
        CheckPattern(entry, reports);
      }
    }
  }
  CLogHelper* log = CLogHelper::GetInstance();
  for (const std::string& note : notes) log->LogInfo(note);
  for (const Report& report : reports) {
    if (!running) return;
    log->LogDebug("Watched file changed: " + report.path);
    Deliver(report);
  }
}

// A file that cannot be looked at is no change; it is reported again once it is back in
// another version than the last one seen. Its first look always reports, as the registration
// report that the owner expects, missing or not.
void FileWatcher::CheckPlainFile(WatchedFile& entry, std::vector<Report>& reports,
                                 std::vector<std::string>& notes) {
  const std::string& path = entry.path;
  platform::FileVersion version;
  const bool readable = platform::GetFileVersion(path, &version);
  if (readable) {
    if (missing_.erase(path) != 0) notes.push_back("Watched file is back: " + path);
  } else if (missing_.insert(path).second) {
    notes.push_back("Watched file is missing: " + path);
  }
  auto seen = entry.versions.find(path);
  bool changed = false;
  if (seen == entry.versions.end()) {
    entry.versions[path] = readable ? version : kNeverSeen;
    changed = true;
  } else if (readable && version != seen->second) {
    seen->second = version;
    changed = true;
  }
  if (changed && entry.callback) reports.push_back(Report{entry.callback, {}, path, {}});
}

void FileWatcher::CheckPattern(WatchedFile& entry, std::vector<Report>& reports) {
  const Pattern pattern = SplitPattern(entry.path);
  std::vector<std::string> matches;
  if (!MatchingFiles(pattern.folder, pattern.before, pattern.after, &matches)) return;
  std::vector<std::string> changed;
  for (const std::string& match : matches) {
    platform::FileVersion version;
    if (!platform::GetFileVersion(match, &version)) continue;
    auto seen = entry.versions.find(match);
    if (seen != entry.versions.end() && version == seen->second) continue;
    entry.versions[match] = version;
    if (entry.callback) {
      reports.push_back(Report{entry.callback, {}, entry.path, {}});
      return;
    }
    changed.push_back(match);
  }
  if (!changed.empty() && entry.listCallback) {
    reports.push_back(Report{{}, entry.listCallback, entry.path, changed});
  }
}

void FileWatcher::Deliver(const Report& report) {
  try {
    if (report.callback) {
      report.callback(report.path);
    } else if (report.listCallback) {
      report.listCallback(report.paths);
    }
  } catch (const std::exception& e) {
    CLogHelper::GetInstance()->LogErrorF("Watch callback for %.200s failed: %.200s",
                                         report.path.c_str(), e.what());
  } catch (...) {
    CLogHelper::GetInstance()->LogErrorF("Watch callback for %.200s failed", report.path.c_str());
  }
}
