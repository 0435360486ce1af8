// The one place where a face-snapshot alarm leaves the vendor's structures: the SDK's message
// callback, which reads a NET_VCA_FACESNAP_RESULT (and its extra information) into a FaceAlarm
// and hands it to a FaceAlarmHandler. Stateless; runs on the SDK's callback threads.
#pragma once

#include <cstdint>
#include <ctime>

#include "records/FaceAlarm.h"
#include "sdk/HCNetSDK.h"

// The camera's packed local time: (year-2000)<<26 | month<<22 | day<<17 | hour<<12 | min<<6 | s.
struct CameraTime {
  int year, month, day, hour, minute, second;
};
CameraTime UnpackCameraTime(uint32_t packed);
// The time value of a camera time read as local time, the daylight-saving flag left to the
// platform's conversion.
std::time_t CameraTimeToEventTime(const CameraTime& t);

// Reads the NET_VCA_FACESNAP_RESULT at alarm (length bytes) into *face; false, with a log
// line, when the buffer is missing or too short. face->jpeg points into the SDK's buffer.
bool DecodeFaceAlarm(const char* alarm, uint32_t length, FaceAlarm* face);

// The SDK's message callback: face-snapshot alarms (0x1112) are counted for their device,
// decoded and handed to the FaceAlarmHandler given as user pointer; every other command is
// ignored.
void OnDeviceMessage(int32_t command, NET_DVR_ALARMER* alarmer, char* alarmInfo,
                     uint32_t length, void* user);
