#include "pipeline/EventFileBacklog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>
#include <fstream>
#include <algorithm>

#include "pipeline/EventFileWriter.h"
#include "platform/Subprocess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A file system that fails until told otherwise, recording what was written and when it was
// asked.
class FlakyDisk {
 public:
  EventFileBacklog::WriteFunction Function() {
    return [this](const std::string& path, const std::string&, std::string* error) {
      std::lock_guard<std::mutex> guard(mutex_);
      ++attempts_;
      if (failing_) {
        *error = "disk full";
        return false;
      }
      written_.push_back(path);
      return true;
    };
  }
  void SetFailing(bool failing) {
    std::lock_guard<std::mutex> guard(mutex_);
    failing_ = failing;
  }
  int Attempts() {
    std::lock_guard<std::mutex> guard(mutex_);
    return attempts_;
  }
  std::vector<std::string> Written() {
    std::lock_guard<std::mutex> guard(mutex_);
    return written_;
  }

 private:
  std::mutex mutex_;
  bool failing_ = true;
  int attempts_ = 0;
  std::vector<std::string> written_;
};

EventFileBacklog::Limits Fast(std::size_t maxEvents = 100, std::size_t maxBytes = 1 << 20) {
  return {10, 40, maxEvents, maxBytes};
}

TEST(EventFileBacklog, KeptEventsAreWrittenInOrderOnceWritingWorksAgain) {
  LogCapture log;
  FlakyDisk disk;
  EventFileBacklog backlog(disk.Function(), Fast());
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(backlog.Keep("e" + std::to_string(i), "x", "disk full"));
  ASSERT_TRUE(WaitFor([&] { return disk.Attempts() >= 3; }));
  EXPECT_TRUE(disk.Written().empty());
  EXPECT_EQ(backlog.Size(), 5u);
  disk.SetFailing(false);
  ASSERT_TRUE(WaitFor([&] { return backlog.Size() == 0; }));
  EXPECT_EQ(disk.Written(), (std::vector<std::string>{"e0", "e1", "e2", "e3", "e4"}));
  EXPECT_EQ(log.Count("Event files cannot be written (disk full); they are kept and retried",
                      LogCapture::kError),
            1);
  EXPECT_EQ(log.Count("Event files can be written again; 5 kept events were written",
                      LogCapture::kInfo),
            1);
}

TEST(EventFileBacklog, TheDelayGrowsWhileWritingKeepsFailing) {
  FlakyDisk disk;
  EventFileBacklog backlog(disk.Function(), {20, 160, 100, 1 << 20});
  backlog.Keep("e", "x", "r");
  // Delays of 20, 40, 80, 160, 160 ms: five attempts take at least 460 ms.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitFor([&] { return disk.Attempts() >= 5; }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

TEST(EventFileBacklog, BeyondTheBoundAnEventIsNamedAsLost) {
  LogCapture log;
  FlakyDisk disk;
  EventFileBacklog backlog(disk.Function(), Fast(3, 10));
  EXPECT_TRUE(backlog.Keep("a", "12345", "r"));
  EXPECT_TRUE(backlog.Keep("b", "1", "r"));
  EXPECT_FALSE(backlog.Keep("c", "123456", "r"));  // over the bytes
  EXPECT_TRUE(backlog.Keep("d", "1", "r"));
  EXPECT_FALSE(backlog.Keep("e", "1", "r"));  // over the count
  EXPECT_EQ(log.CountContaining("Event file c is lost"), 1);
  EXPECT_EQ(log.CountContaining("Event file e is lost"), 1);
  EXPECT_EQ(backlog.Size(), 3u);
}

TEST(EventFileBacklog, StopTriesOnceMoreAndNamesWhatStillFails) {
  LogCapture log;
  {
    FlakyDisk disk;
    EventFileBacklog backlog(disk.Function(), {60000, 60000, 100, 1 << 20});
    backlog.Keep("ok1", "x", "r");
    disk.SetFailing(false);
    backlog.Stop();
    EXPECT_EQ(disk.Written(), std::vector<std::string>{"ok1"});
  }
  FlakyDisk disk;
  EventFileBacklog backlog(disk.Function(), {60000, 60000, 100, 1 << 20});
  backlog.Keep("/spool/a.txt", "x", "r");
  backlog.Keep("/spool/b.txt", "x", "r");
  backlog.Stop();
  EXPECT_EQ(log.Count("Event file /spool/a.txt could not be written before the stop (disk full)",
                      LogCapture::kError),
            1);
  EXPECT_EQ(log.CountContaining("Event file /spool/b.txt could not be written"), 1);
  EXPECT_FALSE(backlog.Keep("late", "x", "r"));
}

// The event folder's place is taken by a regular file, as when a mount is gone: nothing can be
// written there until the file goes. This works for any user, root included.
class BlockedFolderTest : public ::testing::Test {
 protected:
  BlockedFolderTest() : writer_(dir_.Path() + "events/", "Shop") {
    dir_.Write("events", "not a folder");
    writer_.KeepFailedWrites(20, 80);
  }
  static FaceSnapshot Snapshot(int id) {
    FaceSnapshot s;
    s.FaceID = id;
    s.PosId = "7";
    s.EventTime = 1624529472;
    return s;
  }
  std::vector<std::string> EventNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(dir_.Path() + "events", ec)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  LogCapture log_;
  TempDir dir_;
  EventFileWriter writer_;
};

TEST_F(BlockedFolderTest, EventsWaitWhileTheFolderIsGoneAndArriveWhenItIsBack) {
  EXPECT_FALSE(writer_.WriteEventFile(Snapshot(1)));
  EXPECT_FALSE(writer_.WriteEventFile(Snapshot(2)));
  EXPECT_EQ(writer_.KeptCount(), 2u);
  EXPECT_EQ(log_.CountContaining("Event files cannot be written"), 1);
  std::filesystem::remove(dir_.File("events"));
  ASSERT_TRUE(WaitFor([&] { return writer_.KeptCount() == 0; }));
  const auto names = EventNames();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].substr(0, 4), "7_1_");
  EXPECT_EQ(names[1].substr(0, 4), "7_2_");
  EXPECT_TRUE(writer_.WriteEventFile(Snapshot(3)));  // direct again
  EXPECT_EQ(log_.CountContaining("Event files can be written again; 2 kept events"), 1);
}

TEST_F(BlockedFolderTest, StopNamesTheEventsThatNeverFoundTheirFolder) {
  writer_.WriteEventFile(Snapshot(1));
  writer_.StopKeeping();
  int named = 0;
  for (const auto& line : log_.Lines()) {
    if (line.level == LogCapture::kError &&
        line.text.find("could not be written before the stop") != std::string::npos) {
      EXPECT_NE(line.text.find("/events//7_1_20210624"), std::string::npos) << line.text;
      ++named;
    }
  }
  EXPECT_EQ(named, 1);
}

TEST(ReadOnlyFolder, EventsWaitUntilTheFolderIsWritableAgain) {
  LogCapture log;
  TempDir dir;
  std::filesystem::create_directory(dir.File("events"));
  namespace fs = std::filesystem;
  fs::permissions(dir.File("events"), fs::perms::owner_read | fs::perms::owner_exec);
  {
    std::ofstream probe(dir.File("events/probe"));
    if (probe.good()) {
      fs::permissions(dir.File("events"), fs::perms::owner_all);
      GTEST_SKIP() << "this user may write into read-only folders";
    }
  }
  EventFileWriter writer(dir.Path() + "events/", "Shop");
  writer.KeepFailedWrites(20, 80);
  FaceSnapshot s;
  s.FaceID = 5;
  s.PosId = "1";
  s.EventTime = 1624529472;
  EXPECT_FALSE(writer.WriteEventFile(s));
  fs::permissions(dir.File("events"), fs::perms::owner_all);
  ASSERT_TRUE(WaitFor([&] { return writer.KeptCount() == 0; }));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("events")), fs::directory_iterator()), 1);
}

// A small full file system, where this user may mount one.
TEST(FullFileSystem, EventsWaitUntilThereIsRoomAgain) {
  LogCapture log;
  TempDir dir;
  const std::string mountPoint = dir.File("events");
  std::filesystem::create_directory(mountPoint);
  platform::Subprocess mount;
  platform::Subprocess::Options options;
  options.arguments = {"-t", "tmpfs", "-o", "size=64k", "tmpfs", mountPoint};
  options.stdoutPath = dir.File("mount.out");
  options.stderrPath = dir.File("mount.err");
  if (!mount.Start("/bin/mount", options) || !mount.Wait(10000) || mount.ExitStatus() != 0) {
    GTEST_SKIP() << "no right to mount a tmpfs here";
  }
  struct Unmount {
    std::string path;
    std::string dir;
    ~Unmount() {
      platform::Subprocess umount;
      platform::Subprocess::Options o;
      o.arguments = {path};
      o.stdoutPath = dir + "umount.out";
      o.stderrPath = dir + "umount.err";
      if (umount.Start("/bin/umount", o)) umount.Wait(10000);
    }
  } unmount{mountPoint, dir.Path()};
  const std::string filler = mountPoint + "/filler";
  {
    std::ofstream out(filler, std::ios::binary);
    const std::string block(4096, 'f');
    for (int i = 0; i < 64 && out.good(); ++i) out << block << std::flush;
  }
  EventFileWriter writer(mountPoint + "/", "Shop");
  writer.KeepFailedWrites(20, 80);
  FaceSnapshot s;
  s.FaceID = 6;
  s.PosId = "1";
  s.EventTime = 1624529472;
  s.Picture = std::string(8192, 'A');
  EXPECT_FALSE(writer.WriteEventFile(s));
  EXPECT_EQ(writer.KeptCount(), 1u);
  std::filesystem::remove(filler);
  ASSERT_TRUE(WaitFor([&] { return writer.KeptCount() == 0; }));
  EXPECT_TRUE(std::filesystem::exists(writer.MakeEventFileName(s)));
}

}  // namespace
