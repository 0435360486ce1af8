// Alarm channels and the delivery of alarms through the message callback, against real
// simulated devices.
#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>

#include "platform/LocalTime.h"
#include "tests/support/SdkTestFixture.h"

namespace sdktest {
namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                              std::istreambuf_iterator<char>());
}

uint32_t Pack(const std::tm& t) {
  return (static_cast<uint32_t>(t.tm_year + 1900 - 2000) << 26) |
         (static_cast<uint32_t>(t.tm_mon + 1) << 22) | (static_cast<uint32_t>(t.tm_mday) << 17) |
         (static_cast<uint32_t>(t.tm_hour) << 12) | (static_cast<uint32_t>(t.tm_min) << 6) |
         static_cast<uint32_t>(t.tm_sec);
}

uint32_t PackedNow() {
  std::tm local{};
  platform::ToLocalTime(platform::Now(), &local);
  return Pack(local);
}

class SdkAlarmTest : public SdkTest {
 protected:
  // A simulated camera, logged in, with an open alarm channel.
  void Connect(const std::string& ip, std::vector<std::string> args = {}) {
    camsim_ = std::make_unique<CamSimProcess>(ip, args);
    ASSERT_TRUE(camsim_->Started()) << camsim_->Errors();
    userId_ = Login(*camsim_);
    ASSERT_GE(userId_, 0) << NET_DVR_GetLastError();
    handle_ = OpenChannel(userId_);
    ASSERT_GE(handle_, 0) << NET_DVR_GetLastError();
    ASSERT_TRUE(camsim_->WaitForLine("channel open"));
  }

  std::unique_ptr<CamSimProcess> camsim_;
  int32_t userId_ = -1;
  int32_t handle_ = -1;
};

TEST_F(SdkAlarmTest, FaceAlarmCarriesEveryFieldTheIntakeReads) {
  Connect("127.0.0.20");
  const std::string jpegPath = TestData("face-640x480.jpg");
  camsim_->Command("face id=42 jpeg=" + jpegPath +
                   " temp=37.8 abnormal=1 unit=1 mask=1 time=2021-06-24T10:11:12 ip=127.0.0.99");
  ASSERT_TRUE(camsim_->WaitForLine("sent face id=42"));
  RecordedAlarm alarm;
  ASSERT_TRUE(recorder_.WaitForFace(42, &alarm));

  EXPECT_EQ(alarm.command, COMM_UPLOAD_FACESNAP_RESULT);
  EXPECT_EQ(alarm.length, sizeof(NET_VCA_FACESNAP_RESULT));
  EXPECT_EQ(alarm.user, &recorder_);
  EXPECT_EQ(alarm.userId, userId_);
  EXPECT_EQ(alarm.alarmHandle, handle_);
  EXPECT_EQ(alarm.alarmerIp, "127.0.0.20");
  // 2021-06-24 10:11:12 packed: year since 2000 from bit 26, month 22, day 17, hour 12, min 6.
  EXPECT_EQ(alarm.face.dwAbsTime,
            (21u << 26) | (6u << 22) | (24u << 17) | (10u << 12) | (11u << 6) | 12u);
  EXPECT_EQ(alarm.face.dwFacePicID, 42u);
  EXPECT_STREQ(alarm.face.struDevInfo.struDevIP.sIpV4, "127.0.0.99");
  EXPECT_EQ(alarm.face.struFeature.byMask, 1);
  const std::vector<uint8_t> expected = ReadFile(jpegPath);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(alarm.face.dwFacePicLen, expected.size());
  EXPECT_TRUE(alarm.jpeg == expected);
  EXPECT_EQ(alarm.face.byAddInfo, 1);
  ASSERT_TRUE(alarm.hasAddInfo);
  EXPECT_FLOAT_EQ(alarm.addInfo.fFaceTemperature, 37.8f);
  EXPECT_EQ(alarm.addInfo.byIsAbnomalTemperature, 1);
  EXPECT_EQ(alarm.addInfo.byThermometryUnit, 1);
}

TEST_F(SdkAlarmTest, DefaultsNoAddInfoAndOtherCommands) {
  Connect("127.0.0.21");
  const uint32_t before = PackedNow();
  camsim_->Command("face id=7 jpeg=" + TestData("face-small.jpg") + " mask=255");
  camsim_->Command("face id=8 jpeg=" + TestData("face-small.jpg") + " noaddinfo temp=40");
  camsim_->Command("face id=9 jpeg=" + TestData("empty.jpg"));
  camsim_->Command("alarm command=4096");
  RecordedAlarm withDefaults;
  ASSERT_TRUE(recorder_.WaitForFace(7, &withDefaults));
  const uint32_t after = PackedNow();
  // The camera's current local time, and its own address as the camera IP.
  EXPECT_GE(withDefaults.face.dwAbsTime, before);
  EXPECT_LE(withDefaults.face.dwAbsTime, after);
  EXPECT_STREQ(withDefaults.face.struDevInfo.struDevIP.sIpV4, "127.0.0.21");
  EXPECT_EQ(withDefaults.face.struFeature.byMask, 255);
  ASSERT_TRUE(withDefaults.hasAddInfo);
  EXPECT_FLOAT_EQ(withDefaults.addInfo.fFaceTemperature, 36.5f);
  EXPECT_EQ(withDefaults.addInfo.byIsAbnomalTemperature, 0);
  EXPECT_EQ(withDefaults.addInfo.byThermometryUnit, 0);

  RecordedAlarm bare;
  ASSERT_TRUE(recorder_.WaitForFace(8, &bare));
  EXPECT_EQ(bare.face.byAddInfo, 0);
  EXPECT_EQ(bare.face.pAddInfoBuffer, nullptr);
  EXPECT_FALSE(bare.hasAddInfo);

  RecordedAlarm empty;
  ASSERT_TRUE(recorder_.WaitForFace(9, &empty));
  EXPECT_EQ(empty.face.dwFacePicLen, 0u);
  EXPECT_EQ(empty.face.pBuffer1, nullptr);

  RecordedAlarm other;
  ASSERT_TRUE(recorder_.WaitForCommand(4096, &other));
  EXPECT_FALSE(other.isFace);
  EXPECT_EQ(other.length, 0u);
  EXPECT_EQ(other.alarmHandle, handle_);
}

TEST_F(SdkAlarmTest, LargePictureArrivesIntact) {
  Connect("127.0.0.22");
  const auto path = std::filesystem::temp_directory_path() /
                    ("vestrel-sdk-large-" + std::to_string(camsim_->Pid()) + ".jpg");
  std::vector<uint8_t> bytes(6 * 1024 * 1024);
  std::mt19937 random(42);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  camsim_->Command("face id=100 jpeg=" + path.string());
  RecordedAlarm alarm;
  ASSERT_TRUE(recorder_.WaitForFace(100, &alarm, std::chrono::seconds(30)));
  std::filesystem::remove(path);
  EXPECT_EQ(alarm.face.dwFacePicLen, bytes.size());
  EXPECT_TRUE(alarm.jpeg == bytes);
}

TEST_F(SdkAlarmTest, NothingIsDeliveredForAClosedChannel) {
  Connect("127.0.0.23");
  // While the first alarm is in the callback, two more queue up behind it; the callback
  // then closes the channel, so those two must never be delivered.
  std::atomic<bool> closed{false};
  recorder_.SetHook([&](const RecordedAlarm& alarm) {
    if (!alarm.isFace || alarm.face.dwFacePicID != 1) return;
    camsim_->WaitForLine("sent face id=3");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    closed = NET_DVR_CloseAlarmChan_V30(handle_) != 0;
  });
  const std::string jpeg = " jpeg=" + TestData("face-small.jpg");
  camsim_->Command("face id=1" + jpeg);
  camsim_->Command("face id=2" + jpeg);
  camsim_->Command("face id=3" + jpeg);
  ASSERT_TRUE(recorder_.WaitForFace(1));
  ASSERT_TRUE(camsim_->WaitForLine("channel closed"));
  EXPECT_TRUE(closed);

  // A channel opened later gets its alarms; anything queued before them came first.
  const int32_t again = OpenChannel(userId_);
  ASSERT_GE(again, 0);
  EXPECT_NE(again, handle_);
  ASSERT_TRUE(camsim_->WaitForLine("channel open"));
  camsim_->Command("face id=4" + jpeg);
  ASSERT_TRUE(recorder_.WaitForFace(4));
  for (const auto& alarm : recorder_.Alarms()) {
    EXPECT_NE(alarm.face.dwFacePicID, 2u);
    EXPECT_NE(alarm.face.dwFacePicID, 3u);
  }
  // Closed once; a second close knows nothing of the handle.
  EXPECT_FALSE(NET_DVR_CloseAlarmChan_V30(handle_));
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_INVALID_ALARM_HANDLE));
}

TEST_F(SdkAlarmTest, ChannelEndsWithItsLogin) {
  Connect("127.0.0.24");
  // One channel per login: the device refuses a second.
  EXPECT_LT(OpenChannel(userId_), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_DEVICE_REFUSED));

  ASSERT_TRUE(NET_DVR_Logout_V30(userId_));
  ASSERT_TRUE(camsim_->WaitForLine("channel closed"));
  ASSERT_TRUE(camsim_->WaitForLine("logout"));
  // The usual order is logout, then close: the handle is released without complaint.
  EXPECT_TRUE(NET_DVR_CloseAlarmChan_V30(handle_));
  EXPECT_FALSE(NET_DVR_CloseAlarmChan_V30(handle_));
  EXPECT_LT(OpenChannel(userId_), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_INVALID_USERID));
}

TEST_F(SdkAlarmTest, ThrowingCallbackDoesNotStopDelivery) {
  Connect("127.0.0.25");
  recorder_.SetHook([](const RecordedAlarm& alarm) {
    if (alarm.isFace && alarm.face.dwFacePicID == 1) throw std::runtime_error("callback fault");
  });
  const std::string jpeg = " jpeg=" + TestData("face-small.jpg");
  camsim_->Command("face id=1" + jpeg);
  camsim_->Command("face id=2" + jpeg);
  EXPECT_TRUE(recorder_.WaitForFace(1));
  EXPECT_TRUE(recorder_.WaitForFace(2));
}

TEST_F(SdkAlarmTest, AllDevicesDeliverOnOneThreadOneAtATime) {
  Connect("127.0.0.26");
  CamSimProcess second("127.0.0.27", {});
  ASSERT_TRUE(second.Started()) << second.Errors();
  const int32_t secondUser = Login(second);
  ASSERT_GE(secondUser, 0);
  ASSERT_GE(OpenChannel(secondUser), 0);
  ASSERT_TRUE(second.WaitForLine("channel open"));
  recorder_.SetHook([](const RecordedAlarm&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  const std::string jpeg = " jpeg=" + TestData("face-small.jpg");
  for (int i = 1; i <= 10; ++i) {
    camsim_->Command("face id=" + std::to_string(i) + jpeg);
    second.Command("face id=" + std::to_string(100 + i) + jpeg);
  }
  ASSERT_TRUE(recorder_.WaitForFace(10));
  ASSERT_TRUE(recorder_.WaitForFace(110));
  const auto alarms = recorder_.Alarms();
  ASSERT_EQ(alarms.size(), 20u);
  for (const auto& alarm : alarms) {
    EXPECT_EQ(alarm.thread, alarms[0].thread);
    EXPECT_NE(alarm.thread, std::this_thread::get_id());
    EXPECT_STREQ(alarm.face.struDevInfo.struDevIP.sIpV4,
                 alarm.face.dwFacePicID > 100 ? "127.0.0.27" : "127.0.0.26");
  }
  EXPECT_EQ(recorder_.MaxConcurrent(), 1);
  // Each camera's alarms keep their order.
  uint32_t lastFirst = 0;
  uint32_t lastSecond = 100;
  for (const auto& alarm : alarms) {
    uint32_t& last = alarm.face.dwFacePicID > 100 ? lastSecond : lastFirst;
    EXPECT_EQ(alarm.face.dwFacePicID, last + 1);
    last = alarm.face.dwFacePicID;
  }
}

TEST_F(SdkAlarmTest, SlowCallbackLosesOnlyWhatOverflowsTheQueue) {
  Connect("127.0.0.29");
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  recorder_.SetHook([&](const RecordedAlarm& alarm) {
    if (!alarm.isFace || alarm.face.dwFacePicID != 1) return;
    std::unique_lock<std::mutex> lock(mutex);
    released.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
  });
  const std::string jpeg = " jpeg=" + TestData("face-small.jpg");
  const int kSent = 400;
  for (int i = 1; i <= kSent; ++i) camsim_->Command("face id=" + std::to_string(i) + jpeg);
  ASSERT_TRUE(camsim_->WaitForLine("sent face id=" + std::to_string(kSent)));
  // Time for the frames to cross loopback into the library's queue behind the blocked callback.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  {
    std::lock_guard<std::mutex> guard(mutex);
    release = true;
  }
  released.notify_all();
  camsim_->Command("face id=1000" + jpeg);
  ASSERT_TRUE(recorder_.WaitForFace(1000, nullptr, std::chrono::seconds(30)));
  const auto alarms = recorder_.Alarms();
  // The one in the callback, a full queue, and the one sent after the release.
  EXPECT_LE(alarms.size(), 1u + 256u + 1u);
  EXPECT_GE(alarms.size(), 1u + 1u);
  // What was kept is delivered in the order sent.
  for (size_t i = 1; i < alarms.size(); ++i) {
    EXPECT_LT(alarms[i - 1].face.dwFacePicID, alarms[i].face.dwFacePicID);
  }
}

TEST_F(SdkAlarmTest, ScriptedCameraWaitsForTheChannel) {
  const auto script = std::filesystem::temp_directory_path() / "vestrel-sdk-script.txt";
  {
    std::ofstream file(script);
    file << "# waits for a subscriber, then reports one face\n"
         << "await-channel 20\n"
         << "face id=5 bogus=1\n"
         << "face id=6 jpeg=" << TestData("face-small.jpg") << "  # comment\n";
  }
  CamSimProcess camsim("127.0.0.28", {"--script", script.string()});
  ASSERT_TRUE(camsim.Started()) << camsim.Errors();
  const int32_t userId = Login(camsim);
  ASSERT_GE(userId, 0);
  ASSERT_GE(OpenChannel(userId), 0);
  EXPECT_TRUE(recorder_.WaitForFace(6));
  EXPECT_TRUE(camsim.WaitForError(script.string() + ":3: face: unknown key 'bogus'"));
  std::filesystem::remove(script);
}

}  // namespace
}  // namespace sdktest
