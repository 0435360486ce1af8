#include "config/FileWatcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kShortPeriodMs = 20;
constexpr auto kBound = 10s;  // generous bound for anything the watcher should do soon

// Collects the reports of the callbacks it hands out.
class Reports {
 public:
  WatchCallback Callback() {
    return [this](const std::string& path) {
      std::lock_guard<std::mutex> guard(mutex_);
      paths_.push_back(path);
      changed_.notify_all();
    };
  }
  int Count(const std::string& path) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(std::count(paths_.begin(), paths_.end(), path));
  }
  int Total() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(paths_.size());
  }
  bool WaitFor(const std::string& path, int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(
        lock, kBound, [&] { return std::count(paths_.begin(), paths_.end(), path) >= count; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> paths_;
};

bool WaitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// Lets a number of polling passes go by.
void Passes(int n, int periodMs = kShortPeriodMs) {
  std::this_thread::sleep_for(std::chrono::milliseconds(periodMs * n));
}

void SetTime(const std::string& path, fs::file_time_type time) { fs::last_write_time(path, time); }
fs::file_time_type TimeOf(const std::string& path) { return fs::last_write_time(path); }

class FileWatcherTest : public ::testing::Test {
 protected:
  TempDir dir_;
  LogCapture log_;
  Reports reports_;
};

TEST_F(FileWatcherTest, FirstPassReportsEachFileOnceAndNothingMoreWithoutAChange) {
  const std::string a = dir_.Write("a.xml", "a");
  const std::string b = dir_.Write("b.xml", "b");
  FileWatcher watcher(kShortPeriodMs);
  watcher.Add(a, reports_.Callback());
  watcher.Add(b, reports_.Callback());
  ASSERT_TRUE(reports_.WaitFor(a, 1));
  ASSERT_TRUE(reports_.WaitFor(b, 1));
  Passes(10);
  EXPECT_EQ(reports_.Count(a), 1);
  EXPECT_EQ(reports_.Count(b), 1);
  EXPECT_EQ(log_.Count("Watched file changed: " + a, LogCapture::kDebug), 1);
}

// A restored backup (cp -p, rsync -t) has an earlier time, or the same time in another inode.
TEST_F(FileWatcherTest, AnyOtherTimeSizeOrInodeIsAChangeAtFullResolution) {
  const std::string a = dir_.Write("a.xml", "a");
  const fs::file_time_type base = TimeOf(a);
  FileWatcher watcher(kShortPeriodMs);
  watcher.Add(a, reports_.Callback());
  ASSERT_TRUE(reports_.WaitFor(a, 1));

  SetTime(a, base);  // the same time again
  Passes(5);
  EXPECT_EQ(reports_.Count(a), 1);
  SetTime(a, base - 1h);  // an older copy
  ASSERT_TRUE(reports_.WaitFor(a, 2));
  SetTime(a, base - 1h + 1us);
  ASSERT_TRUE(reports_.WaitFor(a, 3));
  dir_.Write("a.xml", "ab");  // another size at the same time
  SetTime(a, base - 1h + 1us);
  ASSERT_TRUE(reports_.WaitFor(a, 4));
  const std::string copy = dir_.Write("copy.xml", "ab");  // the same, in another inode
  SetTime(copy, base - 1h + 1us);
  fs::rename(copy, a);
  ASSERT_TRUE(reports_.WaitFor(a, 5));
  Passes(5);
  EXPECT_EQ(reports_.Count(a), 5);
}

TEST_F(FileWatcherTest, TwoEditsWithinOneIntervalAreOneReport) {
  const std::string a = dir_.Write("a.xml", "a");
  const fs::file_time_type base = TimeOf(a);
  constexpr int kPeriodMs = 400;
  FileWatcher watcher(kPeriodMs);
  watcher.Add(a, reports_.Callback());
  ASSERT_TRUE(reports_.WaitFor(a, 1));
  // The pass that reported has just ended: the next one is a whole period away.
  SetTime(a, base + 1s);
  SetTime(a, base + 2s);
  ASSERT_TRUE(reports_.WaitFor(a, 2));
  Passes(3, kPeriodMs);
  EXPECT_EQ(reports_.Count(a), 2);
}

TEST_F(FileWatcherTest, SecondRegistrationOfAPathIsIgnored) {
  const std::string a = dir_.Write("a.xml", "a");
  Reports second;
  FileWatcher watcher(kShortPeriodMs);
  watcher.Add(a, reports_.Callback());
  watcher.Add(a, second.Callback());
  ASSERT_TRUE(reports_.WaitFor(a, 1));
  SetTime(a, TimeOf(a) + 1s);
  ASSERT_TRUE(reports_.WaitFor(a, 2));
  EXPECT_EQ(second.Total(), 0);
}

TEST_F(FileWatcherTest, MissingFileIsNoChangeUntilItIsBackInAnotherVersion) {
  const std::string a = dir_.Write("a.xml", "a");
  const std::string b = dir_.Write("b.xml", "b");
  const fs::file_time_type base = TimeOf(a);
  FileWatcher watcher(kShortPeriodMs);
  watcher.Add(a, reports_.Callback());
  watcher.Add(b, reports_.Callback());
  ASSERT_TRUE(reports_.WaitFor(a, 1));
  ASSERT_TRUE(reports_.WaitFor(b, 1));

  fs::rename(a, dir_.File("a.moved"));
  Passes(10);
  EXPECT_EQ(reports_.Count(a), 1);
  EXPECT_EQ(log_.Count("Watched file is missing: " + a, LogCapture::kInfo), 1);

  // The other file stays watched meanwhile.
  SetTime(b, TimeOf(b) + 1s);
  ASSERT_TRUE(reports_.WaitFor(b, 2));

  // Back as it was: no report; then as an older copy: reported.
  fs::rename(dir_.File("a.moved"), a);
  ASSERT_TRUE(WaitUntil([&] { return log_.Count("Watched file is back: " + a) == 1; }));
  EXPECT_EQ(reports_.Count(a), 1);
  SetTime(a, base - 1min);
  ASSERT_TRUE(reports_.WaitFor(a, 2));

  // Deleted and written anew: one report, and one more missing line for the new absence.
  fs::remove(a);
  ASSERT_TRUE(WaitUntil([&] { return log_.Count("Watched file is missing: " + a) == 2; }));
  dir_.Write("a.xml", "new");
  SetTime(a, base + 2s);
  ASSERT_TRUE(reports_.WaitFor(a, 3));
  Passes(5);
  EXPECT_EQ(reports_.Count(a), 3);
}

TEST_F(FileWatcherTest, FileThatWasNeverThereIsReportedOnceAtFirstAndAgainWhenItAppears) {
  const std::string a = dir_.File("EdgeAiCfg.xml");
  FileWatcher watcher(kShortPeriodMs);
  watcher.Add(a, reports_.Callback());
  ASSERT_TRUE(reports_.WaitFor(a, 1));  // the registration report
  Passes(10);
  EXPECT_EQ(reports_.Count(a), 1);
  EXPECT_EQ(log_.Count("Watched file is missing: " + a, LogCapture::kInfo), 1);
  dir_.Write("EdgeAiCfg.xml", "<E/>");
  ASSERT_TRUE(reports_.WaitFor(a, 2));
  Passes(5);
  EXPECT_EQ(reports_.Count(a), 2);
}

TEST_F(FileWatcherTest, FileReplacedByRenameIsExactlyOneChange) {
  const std::string a = dir_.Write("a.xml", "old");
  const fs::file_time_type base = TimeOf(a);
  FileWatcher watcher(kShortPeriodMs);
  watcher.Add(a, reports_.Callback());
  ASSERT_TRUE(reports_.WaitFor(a, 1));
  const std::string temp = dir_.Write(".a.xml.tmp", "new");
  SetTime(temp, base + 1s);
  Passes(3);  // the new file alone is nothing to the watcher
  EXPECT_EQ(reports_.Count(a), 1);
  fs::rename(temp, a);
  ASSERT_TRUE(reports_.WaitFor(a, 2));
  Passes(10);
  EXPECT_EQ(reports_.Count(a), 2);
  EXPECT_EQ(log_.CountContaining("Watched file is missing"), 0);
}

TEST_F(FileWatcherTest, PatternWithoutMatchThrowsWithThePath) {
  FileWatcher watcher(kShortPeriodMs);
  const std::string pattern = dir_.File("*.xml");
  try {
    watcher.Add(pattern, reports_.Callback());
    FAIL() << "no exception";
  } catch (const WatchedFileSystemExc& e) {
    EXPECT_STREQ(e.what(), ("Failed to find file or directory at: " + pattern).c_str());
  }
  EXPECT_THROW(watcher.Add(dir_.File("no-such-folder/*.xml"), reports_.Callback()),
               WatchedFileSystemExc);
}

TEST_F(FileWatcherTest, PatternReportsAtRegistrationAndWhenAMatchingFileChanges) {
  const std::string a = dir_.Write("a.xml", "a");
  dir_.Write("b.xml", "b");
  dir_.Write("c.txt", "c");
  const std::string pattern = dir_.File("*.xml");
  FileWatcher watcher(kShortPeriodMs);
  watcher.Add(pattern, reports_.Callback());
  EXPECT_EQ(reports_.Count(pattern), 1);  // within the registration
  Passes(5);
  EXPECT_EQ(reports_.Count(pattern), 1);
  SetTime(dir_.File("c.txt"), TimeOf(a) + 1s);  // not matching
  Passes(5);
  EXPECT_EQ(reports_.Count(pattern), 1);
  SetTime(a, TimeOf(a) + 1s);
  ASSERT_TRUE(reports_.WaitFor(pattern, 2));
}

TEST_F(FileWatcherTest, PatternWithListCallbackGetsEveryChangedMatch) {
  const std::string a = dir_.Write("a.xml", "a");
  const std::string b = dir_.Write("b.xml", "b");
  std::mutex mutex;
  std::vector<std::vector<std::string>> calls;
  FileWatcher watcher(400);
  watcher.Add(dir_.File("*.xml"), nullptr, [&](const std::vector<std::string>& paths) {
    std::lock_guard<std::mutex> guard(mutex);
    calls.push_back(paths);
  });
  {
    std::lock_guard<std::mutex> guard(mutex);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (std::vector<std::string>{a, b}));
  }
  // A report of a plain file marks the end of a pass: both edits fall before the next one.
  const std::string marker = dir_.Write("marker", "m");
  watcher.Add(marker, reports_.Callback());
  ASSERT_TRUE(reports_.WaitFor(marker, 1));
  SetTime(a, TimeOf(a) + 1s);
  SetTime(b, TimeOf(b) + 1s);
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> guard(mutex);
    return calls.size() >= 2;
  }));
  std::lock_guard<std::mutex> guard(mutex);
  EXPECT_EQ(calls[1], (std::vector<std::string>{a, b}));
}

TEST_F(FileWatcherTest, CallbackMayRegisterAndAThrowingCallbackStopsNothing) {
  const std::string a = dir_.Write("a.xml", "a");
  const std::string b = dir_.Write("b.xml", "b");
  FileWatcher watcher(kShortPeriodMs);
  WatchCallback record = reports_.Callback();
  watcher.Add(a, [&](const std::string& path) {
    record(path);
    watcher.Add(b, reports_.Callback());
    throw std::runtime_error("broken callback");
  });
  ASSERT_TRUE(reports_.WaitFor(a, 1));
  ASSERT_TRUE(reports_.WaitFor(b, 1));
  EXPECT_GE(log_.CountContaining("broken callback"), 1);
  SetTime(a, TimeOf(a) + 1s);
  ASSERT_TRUE(reports_.WaitFor(a, 2));
}

TEST_F(FileWatcherTest, DestructionWakesThePollingThreadFromItsSleep) {
  const std::string a = dir_.Write("a.xml", "a");
  auto watcher = std::make_unique<FileWatcher>(10 * 60 * 1000);
  watcher->Add(a, reports_.Callback());
  ASSERT_TRUE(reports_.WaitFor(a, 1));
  auto destroyed = std::async(std::launch::async, [&] { watcher.reset(); });
  EXPECT_EQ(destroyed.wait_for(kBound), std::future_status::ready);
}

TEST_F(FileWatcherTest, CallbackThatRegistersWhileTheWatcherIsDestroyedStartsNoThread) {
  const std::string a = dir_.Write("a.xml", "a");
  const std::string b = dir_.Write("b.xml", "b");
  std::promise<void> inCallback;
  auto watcher = std::make_unique<FileWatcher>(kShortPeriodMs);
  FileWatcher* raw = watcher.get();
  watcher->Add(a, [&](const std::string&) {
    inCallback.set_value();
    std::this_thread::sleep_for(200ms);  // the destructor has begun by now
    raw->Add(b, reports_.Callback());
  });
  inCallback.get_future().wait();
  auto destroyed = std::async(std::launch::async, [&] { watcher.reset(); });
  ASSERT_EQ(destroyed.wait_for(kBound), std::future_status::ready);
  Passes(5);
  EXPECT_EQ(reports_.Total(), 0);  // nothing polls once the watcher is gone
}

TEST_F(FileWatcherTest, ProcessWideWatcherPollsWithTheRealPeriod) {
  const std::string a = dir_.Write("a.xml", "a");
  EXPECT_EQ(&FileWatcher::Instance(), &FileWatcher::Instance());
  // The registration outlives the test, so its callback's target does too.
  static Reports* const processWide = new Reports;
  FileWatcher::Watch(a, processWide->Callback());
  ASSERT_TRUE(processWide->WaitFor(a, 1));
  SetTime(a, TimeOf(a) + 1s);
  ASSERT_TRUE(processWide->WaitFor(a, 2));
}

}  // namespace
