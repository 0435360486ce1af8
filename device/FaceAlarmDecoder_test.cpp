#include "device/FaceAlarmDecoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/LocalTime.h"
#include "tests/support/LogCapture.h"

namespace {

uint32_t Pack(int year, int month, int day, int hour, int minute, int second) {
  return (static_cast<uint32_t>(year - 2000) << 26) | (static_cast<uint32_t>(month) << 22) |
         (static_cast<uint32_t>(day) << 17) | (static_cast<uint32_t>(hour) << 12) |
         (static_cast<uint32_t>(minute) << 6) | static_cast<uint32_t>(second);
}

// An alarm as the SDK delivers it; the buffers stay alive as long as the object.
struct SdkAlarm {
  SdkAlarm(const std::string& ip, uint32_t faceId, std::string jpegBytes)
      : jpeg(std::move(jpegBytes)) {
    std::memset(&result, 0, sizeof result);
    std::memset(&addInfo, 0, sizeof addInfo);
    result.dwSize = sizeof result;
    result.dwFacePicID = faceId;
    result.dwAbsTime = Pack(2021, 6, 24, 10, 11, 12);
    std::strncpy(result.struDevInfo.struDevIP.sIpV4, ip.c_str(),
                 sizeof result.struDevInfo.struDevIP.sIpV4 - 1);
    result.dwFacePicLen = static_cast<uint32_t>(jpeg.size());
    result.pBuffer1 = reinterpret_cast<uint8_t*>(&jpeg[0]);
  }
  char* Buffer() { return reinterpret_cast<char*>(&result); }
  uint32_t Length() const { return sizeof result; }

  std::string jpeg;
  NET_VCA_FACESNAP_RESULT result;
  NET_VCA_FACESNAP_ADDINFO addInfo;
};

struct RecordingHandler : FaceAlarmHandler {
  void OnFaceAlarm(const FaceAlarm& alarm) override {
    ips.push_back(alarm.cameraIp);
    pictures.emplace_back(reinterpret_cast<const char*>(alarm.jpeg), alarm.jpegLength);
  }
  std::vector<std::string> ips;
  std::vector<std::string> pictures;
};

TEST(FaceAlarmDecoder, CameraTimeUnpacksAndPrintsBackInLocalTime) {
  const CameraTime t = UnpackCameraTime(Pack(2021, 6, 24, 10, 11, 12));
  EXPECT_EQ(t.year, 2021);
  EXPECT_EQ(t.month, 6);
  EXPECT_EQ(t.day, 24);
  EXPECT_EQ(t.hour, 10);
  EXPECT_EQ(t.minute, 11);
  EXPECT_EQ(t.second, 12);
  std::tm back{};
  ASSERT_TRUE(platform::ToLocalTime(CameraTimeToEventTime(t), &back));
  EXPECT_EQ(back.tm_year + 1900, 2021);
  EXPECT_EQ(back.tm_mon + 1, 6);
  EXPECT_EQ(back.tm_mday, 24);
  EXPECT_EQ(back.tm_hour, 10);
  EXPECT_EQ(back.tm_min, 11);
  EXPECT_EQ(back.tm_sec, 12);
}

TEST(FaceAlarmDecoder, CameraTimesBeyond2038StayCorrect) {
  const std::time_t late = CameraTimeToEventTime(UnpackCameraTime(Pack(2045, 1, 2, 3, 4, 5)));
  std::tm back{};
  ASSERT_TRUE(platform::ToLocalTime(late, &back));
  EXPECT_EQ(back.tm_year + 1900, 2045);
  EXPECT_EQ(back.tm_mday, 2);
}

TEST(FaceAlarmDecoder, ReadsTheAlarmAndItsExtraInformation) {
  SdkAlarm sdk("10.0.0.2", 57, "jpeg");
  sdk.addInfo.fFaceTemperature = 36.5f;
  sdk.addInfo.byIsAbnomalTemperature = 1;
  sdk.addInfo.byThermometryUnit = 2;
  sdk.result.byAddInfo = 1;
  sdk.result.pAddInfoBuffer = reinterpret_cast<uint8_t*>(&sdk.addInfo);
  sdk.result.struFeature.byMask = 255;
  FaceAlarm face;
  ASSERT_TRUE(DecodeFaceAlarm(sdk.Buffer(), sdk.Length(), &face));
  EXPECT_EQ(face.cameraIp, "10.0.0.2");
  EXPECT_EQ(face.faceId, 57);
  EXPECT_EQ(face.packedTime, sdk.result.dwAbsTime);
  EXPECT_EQ(face.eventTime, CameraTimeToEventTime(UnpackCameraTime(sdk.result.dwAbsTime)));
  EXPECT_EQ(face.temperature, 36.5f);
  EXPECT_EQ(face.temperatureAbnormal, 1);
  EXPECT_EQ(face.temperatureUnit, 2);
  EXPECT_EQ(face.wearMask, -1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(face.jpeg), face.jpegLength), "jpeg");
}

TEST(FaceAlarmDecoder, NoAddInfoGivesZeroTemperatureFieldsAndMaskPassesThrough) {
  SdkAlarm sdk("10.0.0.2", 3, "jpeg");
  sdk.result.struFeature.byMask = 1;
  sdk.result.byAddInfo = 1;  // flag without a buffer counts as none
  FaceAlarm face;
  ASSERT_TRUE(DecodeFaceAlarm(sdk.Buffer(), sdk.Length(), &face));
  EXPECT_EQ(face.temperature, 0.0f);
  EXPECT_EQ(face.temperatureAbnormal, 0);
  EXPECT_EQ(face.temperatureUnit, 0);
  EXPECT_EQ(face.wearMask, 1);
}

TEST(FaceAlarmDecoder, OnlyWholeFaceAlarmsReachTheHandler) {
  LogCapture log;
  RecordingHandler handler;
  SdkAlarm sdk("10.0.0.3", 1, "picture");
  OnDeviceMessage(COMM_UPLOAD_FACESNAP_RESULT + 1, nullptr, sdk.Buffer(), sdk.Length(), &handler);
  OnDeviceMessage(COMM_UPLOAD_FACESNAP_RESULT, nullptr, sdk.Buffer(), sdk.Length() - 1, &handler);
  OnDeviceMessage(COMM_UPLOAD_FACESNAP_RESULT, nullptr, nullptr, sdk.Length(), &handler);
  EXPECT_EQ(log.CountContaining("is too short, dropped"), 2);
  EXPECT_TRUE(handler.ips.empty());
  OnDeviceMessage(COMM_UPLOAD_FACESNAP_RESULT, nullptr, sdk.Buffer(), sdk.Length(), &handler);
  EXPECT_EQ(handler.ips, std::vector<std::string>{"10.0.0.3"});
  EXPECT_EQ(handler.pictures, std::vector<std::string>{"picture"});
}

}  // namespace
