// Vestrel and simulated cameras as real processes: alarms become event files with no face
// service configured.
#include <gtest/gtest.h>

#include "support/Base64.h"
#include "tests/e2e/E2eSite.h"

namespace e2e {
namespace {

const std::string kSmall = std::string(VESTREL_TEST_DATA_DIR) + "/face-small.jpg";
const std::string kLarge = std::string(VESTREL_TEST_DATA_DIR) + "/face-640x480.jpg";
const std::string kHuge = std::string(VESTREL_TEST_DATA_DIR) + "/face-1920x1080.jpg";

constexpr int kLoginMs = 15000;  // first login, channel set-up
constexpr int kEventMs = 15000;

std::string FaceCommand(int id, const std::string& jpeg, const std::string& extra = "") {
  return "face id=" + std::to_string(id) + " jpeg=" + jpeg + " time=2021-06-24T10:11:12" +
         (extra.empty() ? "" : " " + extra);
}

class DirectPathTest : public ::testing::Test {
 protected:
  void StartWith(std::vector<Camera*> cameras, const std::string& defaultPosId = "") {
    std::vector<DeviceEntry> devices;
    int pos = 1001;
    for (Camera* c : cameras) devices.push_back(Site::Entry(*c, std::to_string(pos++)));
    site_.WriteSettings();
    site_.WriteDevInfo(devices, defaultPosId);
    ASSERT_TRUE(site_.StartVestrel());
    for (Camera* c : cameras) {
      ASSERT_TRUE(c->WaitForOutput("channel open", kLoginMs)) << c->Output() << site_.Stderr();
    }
  }
  Site site_;
};

TEST_F(DirectPathTest, SmallPictureIsWrittenAsItCameAndLargeOneAsThumbnail) {
  Camera camera;
  StartWith({&camera});
  ASSERT_TRUE(camera.Send(FaceCommand(7, kSmall, "temp=36.5 abnormal=0 unit=0 mask=1")));
  ASSERT_TRUE(camera.Send(FaceCommand(8, kLarge, "temp=38.25 abnormal=1 unit=1 mask=255")));
  ASSERT_TRUE(site_.WaitForEventFiles(2, kEventMs)) << site_.Log();

  const auto files = site_.EventFiles();
  ASSERT_EQ(files.size(), 2u);
  const std::string small = ReadFileBytes(files[0]);
  const std::string large = ReadFileBytes(files[1]);
  EXPECT_NE(files[0].find("/1001_7_20210624101112.txt"), std::string::npos) << files[0];
  EXPECT_EQ(InfoOf(small, "EventDateTime"), "2021-06-24 10:11:12");
  EXPECT_EQ(InfoOf(small, "EventID"), "1001");
  EXPECT_EQ(InfoOf(small, "FaceTemperature"), "36.5");
  EXPECT_EQ(InfoOf(small, "WearMask"), "1");
  EXPECT_EQ(InfoOf(small, "GroupId"), "-2");
  EXPECT_EQ(InfoOf(small, "Confidence"), "0.0");
  const std::string smallJpeg = ReadFileBytes(kSmall);
  EXPECT_EQ(InfoOf(small, "Picture"),
            Base64Encode(reinterpret_cast<const unsigned char*>(smallJpeg.data()),
                         static_cast<int>(smallJpeg.size())));

  EXPECT_EQ(InfoOf(large, "FaceID"), "8");
  EXPECT_EQ(InfoOf(large, "FaceTemperature"), "38.25");
  EXPECT_EQ(InfoOf(large, "TemperatureStatus"), "1");
  EXPECT_EQ(InfoOf(large, "TemperatureUnit"), "1");
  EXPECT_EQ(InfoOf(large, "WearMask"), "-1");
  const std::size_t thumbnailChars = InfoOf(large, "Picture").size();
  EXPECT_GT(thumbnailChars, 0u);
  EXPECT_LT(thumbnailChars, ReadFileBytes(kLarge).size());  // far below the original's base64
  EXPECT_NE(site_.Log().find("Face snapshot jpg size("), std::string::npos);
  EXPECT_NE(site_.Log().find("Process face snapshot: id(8), success @13"), std::string::npos);
  EXPECT_EQ(site_.StopVestrel(), 0);
}

TEST_F(DirectPathTest, RepeatedIdFromOneCameraIsDroppedButNotFromAnother) {
  Camera first;
  Camera second;
  StartWith({&first, &second});
  ASSERT_TRUE(first.Send(FaceCommand(5, kSmall)));
  ASSERT_TRUE(first.Send(FaceCommand(5, kSmall)));
  ASSERT_TRUE(second.Send(FaceCommand(5, kSmall)));
  const std::string duplicate = "IP(" + first.Ip() + "), Duplicate face id received(5)...";
  ASSERT_TRUE(site_.WaitForLog(duplicate, kEventMs)) << site_.Log();
  ASSERT_TRUE(site_.WaitForEventFiles(2, kEventMs)) << site_.Log();
  EXPECT_EQ(site_.StopVestrel(), 0);
  const auto files = site_.EventFiles();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_NE(files[0].find("/1001_5_"), std::string::npos);
  EXPECT_NE(files[1].find("/1002_5_"), std::string::npos);
  EXPECT_EQ(CountOccurrences(site_.Log(), "Duplicate face id"), 1);
}

TEST_F(DirectPathTest, UnknownCameraIsDroppedWithoutADefaultPosId) {
  Camera camera;
  StartWith({&camera});
  ASSERT_TRUE(camera.Send(FaceCommand(9, kSmall, "ip=10.9.9.9")));
  ASSERT_TRUE(site_.WaitForLog("Device config for 10.9.9.9 not found...", kEventMs)) << site_.Log();
  ASSERT_TRUE(camera.Send(FaceCommand(10, kSmall)));
  ASSERT_TRUE(site_.WaitForEventFiles(1, kEventMs));
  EXPECT_EQ(site_.StopVestrel(), 0);
  ASSERT_EQ(site_.EventFiles().size(), 1u);
  EXPECT_NE(site_.EventFiles()[0].find("_10_"), std::string::npos);
}

TEST_F(DirectPathTest, UnknownCameraIsFiledUnderTheDefaultPosId) {
  Camera camera;
  StartWith({&camera}, "777");
  ASSERT_TRUE(camera.Send(FaceCommand(11, kSmall, "ip=10.9.9.9")));
  ASSERT_TRUE(site_.WaitForEventFiles(1, kEventMs)) << site_.Log();
  EXPECT_EQ(site_.StopVestrel(), 0);
  EXPECT_EQ(InfoOf(ReadFileBytes(site_.EventFiles()[0]), "EventID"), "777");
}

TEST_F(DirectPathTest, MissingDeviceListEndsWithStatus255) {
  site_.WriteSettings();
  ASSERT_TRUE(site_.StartVestrel());
  ASSERT_TRUE(site_.Vestrel().Wait(15000));
  EXPECT_EQ(site_.Vestrel().ExitStatus(), 255);
  EXPECT_NE(site_.Log().find("Initializing @1..."), std::string::npos);
  EXPECT_EQ(site_.Log().find("Initializing @2..."), std::string::npos);
}

TEST_F(DirectPathTest, SigtermWhileAlarmsFlowEndsCleanlyWithOnlyWholeFiles) {
  Camera camera;
  StartWith({&camera});
  // Large pictures take a few milliseconds each to thumbnail, so the stop lands mid-stream.
  for (int id = 1; id <= 300; ++id) {
    ASSERT_TRUE(camera.Send(FaceCommand(id, id % 4 == 0 ? kSmall : kHuge)));
  }
  ASSERT_TRUE(site_.WaitForEventFiles(3, kEventMs)) << site_.Log();
  EXPECT_EQ(site_.StopVestrel(), 0) << site_.Stderr();
  for (const std::string& name : site_.AllEventFolderEntries()) {
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    EXPECT_NE(name.front(), '.') << name;
  }
  for (const std::string& file : site_.EventFiles()) {
    const std::string xml = ReadFileBytes(file);
    EXPECT_EQ(xml.rfind("<POSEvent Vender=\"E2E Shop\">\r\n", 0), 0u) << file;
    ASSERT_GE(xml.size(), 13u);
    EXPECT_EQ(xml.substr(xml.size() - 13), "</POSEvent>\r\n") << file;
  }
}

}  // namespace
}  // namespace e2e
