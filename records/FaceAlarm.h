// A face-snapshot alarm as a camera reported it, read out of the device SDK's structures by
// device/FaceAlarmDecoder, and the interface that takes it (the snapshot intake). Handlers are
// called on the SDK's callback threads, several at once, and must serialise themselves.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

struct FaceAlarm {
  std::string cameraIp;       // the sending camera's dotted IPv4 text
  int32_t faceId = 0;         // the camera's id of this face; repeats when it sends it again
  std::time_t eventTime = 0;  // camera time, seconds since 1970
  uint32_t packedTime = 0;    // the camera's time as it sent it, for the log
  float temperature = 0.0f;   // all three 0 when the camera sent no temperature
  int32_t temperatureAbnormal = 0;
  int32_t temperatureUnit = 0;  // 0 Celsius, 1 Fahrenheit, 2 Kelvin
  int32_t wearMask = 0;         // 0 no mask, 1 mask, -1 unknown
  // The JPEG picture; it belongs to the SDK and is valid only during OnFaceAlarm.
  const unsigned char* jpeg = nullptr;
  uint32_t jpegLength = 0;
};

class FaceAlarmHandler {
 public:
  virtual ~FaceAlarmHandler() = default;
  virtual void OnFaceAlarm(const FaceAlarm& alarm) = 0;
};
