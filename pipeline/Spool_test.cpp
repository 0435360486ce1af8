#include "pipeline/Spool.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <map>
#include <memory>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "pipeline/SpoolEntry.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PowerCutFiles.h"

namespace {

const std::string kQueue = "/site/queue";
const std::string kEvents = "/site/events/";

std::unique_ptr<FaceSnapshot> Snapshot(int faceId) {
  auto s = std::make_unique<FaceSnapshot>();
  s->FaceID = faceId;
  s->PosId = "1001";
  s->EventTime = 1624529472;
  s->Picture = std::string(300, 'P');
  return s;
}

// One run of Vestrel over the file system: a spool whose face service answers every snapshot
// that it is handed (when identify is set) once the test calls Answer.
class SiteRun {
 public:
  SiteRun(PowerCutFiles& files, bool identify, SpoolLimits limits = SpoolLimits())
      : writer_(kEvents, "Shop"),
        spool_(kQueue, writer_, files, identify,
               [this](FaceSnapshot* s) {
                 std::lock_guard<std::mutex> g(lock_);
                 handed_.emplace_back(s);
                 return true;
               },
               limits) {
    spool_.Start();
  }
  // Answers what was handed on until nothing more comes; returns the face ids answered.
  std::vector<int> Answer() {
    std::vector<int> answered;
    for (int round = 0; round < 20 && spool_.Flush(5000); ++round) {
      std::vector<std::unique_ptr<FaceSnapshot>> handed;
      {
        std::lock_guard<std::mutex> g(lock_);
        handed.swap(handed_);
      }
      if (handed.empty()) break;
      for (auto& s : handed) {
        s->GroupId = kGroupVip;
        spool_.WriteEventFile(*s);
        answered.push_back(s->FaceID);
      }
    }
    return answered;
  }
  Spool& spool() { return spool_; }

 private:
  EventFileWriter writer_;
  std::mutex lock_;
  std::vector<std::unique_ptr<FaceSnapshot>> handed_;
  Spool spool_;
};

// Face id -> times published; fails the test on a torn or unreadable event file.
std::map<int, int> Published(PowerCutFiles& files) {
  std::map<int, int> seen;
  for (const auto& [name, xml] : files.Files(kEvents)) {
    TiXmlDocument document;
    document.Parse(xml.c_str());
    EXPECT_FALSE(document.Error()) << name << " is torn: '" << xml << "'";
    ++seen[std::stoi(name.substr(5))];
  }
  return seen;
}

// Starts again after a power cut, with the power cut again at step cut (0: never) of the
// recovery, and once more without a cut; every snapshot named in mustBe is published once.
void RecoverAndCheck(PowerCutFiles& files, bool identify, int cut,
                     const std::vector<int>& mustBe) {
  files.PowerCut();
  files.CutAtStep(cut);
  { SiteRun(files, identify).Answer(); }
  files.PowerCut();
  files.CutAtStep(0);
  { SiteRun(files, identify).Answer(); }
  const std::map<int, int> seen = Published(files);
  for (const auto& [faceId, times] : seen) EXPECT_EQ(times, 1) << "face " << faceId;
  for (int faceId : mustBe) EXPECT_EQ(seen.count(faceId), 1u) << "face " << faceId << " lost";
  EXPECT_TRUE(files.Files(kQueue).empty());
}

// The power goes at every step of a run that accepts, answers and publishes three snapshots,
// then at every step of the recovery that follows.
class SpoolPowerCut : public ::testing::TestWithParam<bool> {};

TEST_P(SpoolPowerCut, EveryCutLeavesExactlyOneEventFilePerAcceptedSnapshot) {
  const bool identify = GetParam();
  LogCapture quiet;
  int runSteps = 0;
  for (int cut = 1; cut < 200; ++cut) {
    for (int recoveryCut = 0; recoveryCut < 60; recoveryCut += 3) {
      SCOPED_TRACE("cut " + std::to_string(cut) + ", recovery cut " + std::to_string(recoveryCut));
      PowerCutFiles files;
      files.CutAtStep(cut);
      std::vector<int> accepted;
      {
        SiteRun run(files, identify);
        for (int id = 1; id <= 3; ++id) run.spool().Accept(Snapshot(id));
        accepted = run.Answer();  // handed on: durably accepted
      }
      runSteps = files.Steps();
      RecoverAndCheck(files, identify, recoveryCut, accepted);
    }
    if (runSteps < cut) return;  // the whole run passed without a cut
  }
  FAIL() << "the run never ended";
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutFaceService, SpoolPowerCut, ::testing::Bool());

// Failures of the disk through the seam: none passes as success, none loses an accepted one.
TEST(Spool, DiskFailuresRefuseOrRetryAndNeverLose) {
  LogCapture log;
  PowerCutFiles files;
  SpoolLimits fast;
  fast.firstRetryMs = 10;
  {
    SiteRun run(files, true, fast);
    files.FailNext("write", platform::FileResult::kNoSpace);
    run.spool().Accept(Snapshot(1));            // ENOSPC: refused
    ASSERT_TRUE(run.spool().Flush(5000));
    files.FailNext("syncfolder", platform::FileResult::kOther);
    run.spool().Accept(Snapshot(2));            // folder not synced: refused
    ASSERT_TRUE(run.spool().Flush(5000));
    run.spool().Accept(Snapshot(3));
    ASSERT_TRUE(run.spool().Flush(5000));
    files.FailNext("sync", platform::FileResult::kOther);  // its event file's data: written again
    EXPECT_EQ(run.Answer(), std::vector<int>{3});
    files.RemoveFolder(kQueue);  // gone: made again
    run.spool().Accept(Snapshot(4));
    ASSERT_TRUE(run.spool().Flush(5000));
    files.FailNext("create", platform::FileResult::kReadOnly);  // refused while read-only
    run.spool().Accept(Snapshot(5));
    ASSERT_TRUE(run.spool().Flush(5000));
    run.spool().Accept(Snapshot(6));
    EXPECT_EQ(run.Answer(), (std::vector<int>{4, 6}));
  }
  EXPECT_EQ(Published(files), (std::map<int, int>{{3, 1}, {4, 1}, {6, 1}}));
  EXPECT_EQ(log.CountContaining("refuses face snapshots: id(1) refused"), 1);
  EXPECT_EQ(log.CountContaining("injected failure of syncfolder"), 0);  // one line a minute
}

TEST(Spool, BoundsRefuseNewAlarmsAndNeverEvict) {
  LogCapture log;
  PowerCutFiles files;
  SpoolLimits two;
  two.maxEntries = 2;
  SiteRun run(files, true, two);
  for (int id = 1; id <= 3; ++id) run.spool().Accept(Snapshot(id));
  ASSERT_TRUE(run.spool().Flush(5000));
  EXPECT_EQ(run.spool().Entries(), 2u);
  EXPECT_EQ(log.CountContaining("id(3) refused, 1 refused since the last such line: the spool "
                                "holds 2 entries, its limit"),
            1);
  files.SetFreeBytes(1);
  run.Answer();
  EXPECT_FALSE(run.spool().Accept(Snapshot(4)));  // below the free-space reserve
  EXPECT_EQ(Published(files), (std::map<int, int>{{1, 1}, {2, 1}}));
}

TEST(Spool, ATakenNameIsNeverOverwrittenAndIsPublishedOnceFree) {
  LogCapture log;
  PowerCutFiles files;
  files.MakePrivateFolder(kEvents);
  files.Put(kEvents, "1001_1_20210624101112.txt", "collector's");
  SpoolLimits fast;
  fast.firstRetryMs = 10;
  SiteRun run(files, false, fast);
  run.spool().Accept(Snapshot(1));
  ASSERT_TRUE(run.spool().Flush(5000));
  EXPECT_EQ(files.Files(kEvents).begin()->second, "collector's");
  files.Remove(kEvents, "1001_1_20210624101112.txt");  // the collector takes it
  for (int i = 0; i < 500 && !files.Files(kQueue).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(Published(files), (std::map<int, int>{{1, 1}}));
}

TEST(Spool, UnreadableEntriesMoveAsideWithoutBlockingTheStart) {
  LogCapture log;
  PowerCutFiles files;
  files.MakePrivateFolder(kQueue);
  std::string entry = spool_entry::Encode(*Snapshot(1));
  files.Put(kQueue, "0000000000000001.snap", entry);
  entry[entry.size() - 1] ^= 1;
  files.Put(kQueue, "0000000000000002.snap", entry);                          // bad checksum
  files.Put(kQueue, "0000000000000003.snap", entry.substr(0, 10));            // cut short
  files.Put(kQueue, "0000000000000004.snap", std::string("VSPOOL\x09\x00", 8) + entry.substr(8));
  files.Put(kQueue, "0000000000000005-x.txt.tmp", "half");
  files.Put(kQueue, "stray", "?");
  { SiteRun(files, false).Answer(); }
  EXPECT_EQ(Published(files), (std::map<int, int>{{1, 1}}));
  EXPECT_EQ(files.Files(kQueue + "/corrupt").size(), 4u);
  EXPECT_EQ(log.CountContaining("(bad checksum): moved to /site/queue/corrupt"), 1);
  EXPECT_EQ(log.CountContaining("(unknown version 9)"), 1);
  EXPECT_EQ(log.Count("Spool /site/queue: 1 snapshots resumed, 4 corrupt", LogCapture::kInfo), 1);
}

}  // namespace
