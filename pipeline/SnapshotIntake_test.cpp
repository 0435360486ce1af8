#include "pipeline/SnapshotIntake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <thread>

#include "pipeline/FaceClientSlot.h"
#include "support/Base64.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManyScanJpeg.h"
#include "tests/support/TempDir.h"

namespace {

// An alarm as the decoder hands it on; the picture stays alive as long as the object.
struct Alarm {
  Alarm(const std::string& ip, uint32_t faceId, std::string jpegBytes)
      : jpeg(std::move(jpegBytes)) {
    face.cameraIp = ip;
    face.faceId = static_cast<int32_t>(faceId);
    face.packedTime = 0x55B0A2CC;  // 2021-06-24 10:11:12
    std::tm local{};
    local.tm_year = 121;
    local.tm_mon = 5;
    local.tm_mday = 24;
    local.tm_hour = 10;
    local.tm_min = 11;
    local.tm_sec = 12;
    local.tm_isdst = -1;
    face.eventTime = std::mktime(&local);
    face.jpeg = reinterpret_cast<const unsigned char*>(jpeg.data());
    face.jpegLength = static_cast<uint32_t>(jpeg.size());
  }
  Alarm(const Alarm&) = delete;

  std::string jpeg;
  FaceAlarm face;
};

class RecordingClient : public SnapshotConsumer {
 public:
  ~RecordingClient() override {
    for (FaceSnapshot* s : received) delete s;
  }
  void PushSnapshot(FaceSnapshot* snapshot) override { received.push_back(snapshot); }
  std::vector<FaceSnapshot*> received;
};

class SnapshotIntakeTest : public ::testing::Test {
 protected:
  SnapshotIntakeTest()
      : writer_(events_.Path(), "Shop"), slot_([this] { return MakeClient(); }) {
    spoolFolder_ = work_.File("queue");
    posIdByIp_["10.0.0.2"] = "1001";
    posIdByIp_["10.0.0.3"] = "1002";
    settings_.ProgramFolder = work_.Path();
  }
  SnapshotConsumer* MakeClient() {
    ++clientsMade_;
    return clientAvailable_ ? &client_ : nullptr;
  }
  SnapshotIntake& Intake() {
    if (!intake_) {
      spool_ = std::make_unique<Spool>(spoolFolder_, writer_, platform::RealDurableFiles(),
                                       faceService_ != nullptr, [this](FaceSnapshot* s) {
                                         return slot_.Offer(s, 0);
                                       });
      spool_->Start();
      intake_ = std::make_unique<SnapshotIntake>(settings_, posIdByIp_, defaultPosId_,
                                                 faceService_ ? &*faceService_ : nullptr, *spool_);
    }
    return *intake_;
  }
  void Deliver(const Alarm& alarm) { Intake().OnFaceAlarm(alarm.face); }
  std::vector<std::string> Events() {
    if (spool_) spool_->Flush(10000);
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(events_.Path())) {
      files.push_back(e.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    return files;
  }
  std::string Jpeg(const std::string& name) const {
    return ReadFileBytes(std::string(VESTREL_TEST_DATA_DIR) + "/" + name);
  }

  TempDir events_;
  TempDir work_;
  LogCapture log_;
  PosIdMap posIdByIp_;
  std::string defaultPosId_;
  IntakeSettings settings_;
  std::unique_ptr<FaceServiceConfig> faceService_;
  EventFileWriter writer_;
  RecordingClient client_;
  bool clientAvailable_ = true;
  std::atomic<int> clientsMade_{0};
  FaceClientSlot slot_;
  std::string spoolFolder_;
  std::unique_ptr<Spool> spool_;
  std::unique_ptr<SnapshotIntake> intake_;
};

TEST_F(SnapshotIntakeTest, DuplicateCacheKeepsRecentDistinctIdsFirstInFirstOut) {
  for (int id = 1; id <= 11; ++id) EXPECT_FALSE(Intake().IsDuplicateFace("cam", id)) << id;
  EXPECT_FALSE(Intake().IsDuplicateFace("cam", 1));  // 11 pushed 1 out, and 1 pushes 2 out
  for (int id = 3; id <= 11; ++id) EXPECT_TRUE(Intake().IsDuplicateFace("cam", id)) << id;
  EXPECT_TRUE(Intake().IsDuplicateFace("cam", 1));
  EXPECT_FALSE(Intake().IsDuplicateFace("cam", 2));
  EXPECT_FALSE(Intake().IsDuplicateFace("other", 5));  // another camera has its own list
}

TEST_F(SnapshotIntakeTest, RepeatedIdDoesNotMoveToTheNewestEnd) {
  settings_.MaxCacheCount = 2;
  EXPECT_FALSE(Intake().IsDuplicateFace("cam", 1));
  EXPECT_FALSE(Intake().IsDuplicateFace("cam", 2));
  EXPECT_TRUE(Intake().IsDuplicateFace("cam", 1));
  EXPECT_FALSE(Intake().IsDuplicateFace("cam", 3));  // cache 2, 3
  EXPECT_FALSE(Intake().IsDuplicateFace("cam", 1));  // cache 3, 1
  EXPECT_TRUE(Intake().IsDuplicateFace("cam", 3));
  EXPECT_FALSE(Intake().IsDuplicateFace("cam", 2));
}

TEST_F(SnapshotIntakeTest, CacheOfZeroRemembersOnlyTheLastIdAndNegativeNeverTrims) {
  settings_.MaxCacheCount = 0;
  EXPECT_FALSE(Intake().IsDuplicateFace("a", 1));
  EXPECT_TRUE(Intake().IsDuplicateFace("a", 1));
  EXPECT_FALSE(Intake().IsDuplicateFace("a", 2));
  EXPECT_FALSE(Intake().IsDuplicateFace("a", 1));
  intake_.reset();
  spool_.reset();
  settings_.MaxCacheCount = -1;
  for (int id = 0; id < 500; ++id) EXPECT_FALSE(Intake().IsDuplicateFace("b", id));
  EXPECT_TRUE(Intake().IsDuplicateFace("b", 0));
}

TEST_F(SnapshotIntakeTest, CameraAddressesPastTheBoundForgetTheLeastRecentlySeen) {
  const auto cameras = DuplicateFaceCache::kMaxCameras;
  for (std::size_t c = 0; c < cameras; ++c) Intake().IsDuplicateFace(std::to_string(c), 7);
  EXPECT_TRUE(Intake().IsDuplicateFace("0", 7));  // "0" is now the most recently seen
  EXPECT_FALSE(Intake().IsDuplicateFace("new", 7));  // forgets "1"
  EXPECT_TRUE(Intake().IsDuplicateFace("0", 7));
  EXPECT_FALSE(Intake().IsDuplicateFace("1", 7));
  EXPECT_TRUE(Intake().IsDuplicateFace("new", 7));
}

TEST_F(SnapshotIntakeTest, ThumbnailThreadsRefuseACostlyPictureAndWriteTheOthers) {
  settings_.ThumbnailThreads = 2;
  settings_.MaxFaceSize = 1000;
  Deliver(Alarm("10.0.0.2", 1, MakeManyScanJpeg(64, 64)));
  Deliver(Alarm("10.0.0.3", 2, Jpeg("face-640x480.jpg")));
  Deliver(Alarm("10.0.0.3", 3, Jpeg("face-small.jpg")));
  Intake().Stop();
  EXPECT_EQ(Events(), (std::vector<std::string>{"1002_2_20210624101112.txt",
                                                "1002_3_20210624101112.txt"}));
  EXPECT_EQ(log_.Count("Picture of camera 10.0.0.2 refused: JPEG picture has more than 64 scans",
                       LogCapture::kInfo),
            1);
  // Each thread has its own pair of work files, private to the service.
  const char* made = std::filesystem::exists(work_.File("tmpDest.jpg")) ? "tmpDest.jpg" : "tmpDest2.jpg";
  EXPECT_EQ(std::filesystem::status(work_.File(made)).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(SnapshotIntakeTest, WorkFileThatIsALinkIsNotFollowed) {
  std::filesystem::create_symlink(events_.File("target"), work_.File("tmpSrc.jpg"));
  Deliver(Alarm("10.0.0.2", 4, Jpeg("face-640x480.jpg")));
  EXPECT_EQ(log_.Count("Error: 0x00000028", LogCapture::kInfo), 1);  // ELOOP
  EXPECT_FALSE(std::filesystem::exists(events_.File("target")));
}

TEST_F(SnapshotIntakeTest, SmallPictureIsEncodedDirectlyAndWrittenWithTheAlarmFields) {
  Alarm alarm("10.0.0.2", 57, Jpeg("face-small.jpg"));
  alarm.face.temperature = 36.5f;
  alarm.face.temperatureAbnormal = 1;
  alarm.face.temperatureUnit = 2;
  alarm.face.wearMask = -1;
  Deliver(alarm);
  ASSERT_EQ(Events(), std::vector<std::string>{"1001_57_20210624101112.txt"});
  const std::string xml = ReadFileBytes(events_.File("1001_57_20210624101112.txt"));
  EXPECT_NE(xml.find("<FaceTemperature Info=\"36.5\" />"), std::string::npos);
  EXPECT_NE(xml.find("<TemperatureStatus Info=\"1\" />"), std::string::npos);
  EXPECT_NE(xml.find("<TemperatureUnit Info=\"2\" />"), std::string::npos);
  EXPECT_NE(xml.find("<WearMask Info=\"-1\" />"), std::string::npos);
  EXPECT_NE(xml.find("<Picture Info=\"" +
                     Base64Encode(reinterpret_cast<const unsigned char*>(alarm.jpeg.data()),
                                  static_cast<int>(alarm.jpeg.size())) +
                     "\" />"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(work_.File("tmpSrc.jpg")));  // no disk on this path
  EXPECT_EQ(log_.Count("Receiving face snapshot, size(2361), id(57), time(" +
                           std::to_string(static_cast<int32_t>(alarm.face.packedTime)) + ")\n",
                       LogCapture::kDebug),
            1);
  EXPECT_EQ(log_.Count("Process face snapshot: id(57) @2\n"), 1);
}

TEST_F(SnapshotIntakeTest, PictureOfExactlyMaxFaceSizeSkipsTheThumbnailAndOneMoreByteDoesNot) {
  const std::string jpeg = Jpeg("face-640x480.jpg");
  settings_.MaxFaceSize = static_cast<int32_t>(jpeg.size());
  Deliver(Alarm("10.0.0.2", 1, jpeg));
  EXPECT_FALSE(std::filesystem::exists(work_.File("tmpSrc.jpg")));
  intake_.reset();
  spool_.reset();
  settings_.MaxFaceSize = static_cast<int32_t>(jpeg.size()) - 1;
  Deliver(Alarm("10.0.0.2", 2, jpeg));
  EXPECT_EQ(ReadFileBytes(work_.File("tmpSrc.jpg")), jpeg);
  EXPECT_TRUE(std::filesystem::exists(work_.File("tmpDest.jpg")));
  EXPECT_EQ(Events().size(), 2u);
  EXPECT_EQ(log_.CountContaining("Face snapshot jpg size("), 1);
}

TEST_F(SnapshotIntakeTest, BrokenLargePictureIsDiscardedButItsIdStaysCached) {
  Deliver(Alarm("10.0.0.2", 9, std::string(20000, 'x')));
  EXPECT_EQ(log_.Count("Failed to generate snap thumbnail", LogCapture::kInfo), 1);
  EXPECT_TRUE(Events().empty());
  Deliver(Alarm("10.0.0.2", 9, Jpeg("face-small.jpg")));
  EXPECT_EQ(log_.Count("IP(10.0.0.2), Duplicate face id received(9)...", LogCapture::kInfo), 1);
  EXPECT_TRUE(Events().empty());
}

TEST_F(SnapshotIntakeTest, WorkFileThatCannotBeCreatedLogsTheSystemError) {
  settings_.ProgramFolder = work_.File("no-such-folder") + "/";
  Deliver(Alarm("10.0.0.2", 4, Jpeg("face-640x480.jpg")));
  EXPECT_EQ(log_.Count("Error: 0x00000002", LogCapture::kInfo), 1);  // ENOENT
  EXPECT_TRUE(Events().empty());
}

TEST_F(SnapshotIntakeTest, UnknownCameraIsDroppedBeforeTheCacheUnlessThereIsADefault) {
  Deliver(Alarm("10.9.9.9", 1, Jpeg("face-small.jpg")));
  EXPECT_EQ(log_.Count("Device config for 10.9.9.9 not found...", LogCapture::kInfo), 1);
  EXPECT_TRUE(Events().empty());
  intake_.reset();
  spool_.reset();
  defaultPosId_ = "777";
  Deliver(Alarm("10.9.9.9", 1, Jpeg("face-small.jpg")));
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_EQ(Events()[0].rfind("777_1_", 0), 0u);
}

TEST_F(SnapshotIntakeTest, FaceServiceHandsSnapshotsToTheOneClient) {
  faceService_ = std::make_unique<FaceServiceConfig>();
  Deliver(Alarm("10.0.0.2", 1, Jpeg("face-small.jpg")));
  Deliver(Alarm("10.0.0.3", 2, Jpeg("face-small.jpg")));
  spool_->Flush(10000);
  ASSERT_EQ(client_.received.size(), 2u);
  EXPECT_EQ(client_.received[0]->PosId, "1001");
  EXPECT_EQ(client_.received[1]->GroupId, kGroupNotIdentified);
  EXPECT_EQ(client_.received[1]->Confidence, "0.0");
  EXPECT_EQ(clientsMade_, 1);
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(log_.Count("Process face snapshot: id(1) @1\n"), 1);
}

TEST_F(SnapshotIntakeTest, FaceServiceWithoutAClientWritesDirectlyAndSaysSoOnce) {
  faceService_ = std::make_unique<FaceServiceConfig>();
  clientAvailable_ = false;
  Deliver(Alarm("10.0.0.2", 1, Jpeg("face-small.jpg")));
  Deliver(Alarm("10.0.0.2", 2, Jpeg("face-small.jpg")));
  EXPECT_EQ(Events().size(), 2u);
  EXPECT_EQ(clientsMade_, 1);
  EXPECT_EQ(log_.CountContaining("No face client exists"), 1);
}

TEST(FaceClientSlot, ConcurrentFirstUseCreatesExactlyOneClient) {
  std::atomic<int> made{0};
  RecordingClient client;
  FaceClientSlot slot([&] {
    ++made;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return &client;
  });
  std::vector<std::thread> threads;
  std::atomic<int> same{0};
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      if (slot.GetOrCreate() == &client) ++same;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(made, 1);
  EXPECT_EQ(same, 8);
  EXPECT_EQ(slot.Get(), &client);
}

}  // namespace
