#include "device/FaceAlarmDecoder.h"

#include <cstring>

#include "metrics/Metrics.h"
#include "support/LogHelper.h"

CameraTime UnpackCameraTime(uint32_t packed) {
  CameraTime t;
  t.year = static_cast<int>(packed >> 26) + 2000;
  t.month = static_cast<int>((packed >> 22) & 15);
  t.day = static_cast<int>((packed >> 17) & 31);
  t.hour = static_cast<int>((packed >> 12) & 31);
  t.minute = static_cast<int>((packed >> 6) & 63);
  t.second = static_cast<int>(packed & 63);
  return t;
}

std::time_t CameraTimeToEventTime(const CameraTime& t) {
  std::tm broken{};
  broken.tm_year = t.year - 1900;
  broken.tm_mon = t.month - 1;
  broken.tm_mday = t.day;
  broken.tm_hour = t.hour;
  broken.tm_min = t.minute;
  broken.tm_sec = t.second;
  broken.tm_isdst = -1;
  return std::mktime(&broken);
}

bool DecodeFaceAlarm(const char* alarm, uint32_t length, FaceAlarm* face) {
  if (alarm == nullptr || length < sizeof(NET_VCA_FACESNAP_RESULT)) {
    CLogHelper::GetInstance()->LogInfoF("Face snapshot alarm of %u bytes is too short, dropped",
                                        length);
    return false;
  }
  NET_VCA_FACESNAP_RESULT result;
  std::memcpy(&result, alarm, sizeof result);
  char ipText[sizeof result.struDevInfo.struDevIP.sIpV4 + 1] = {};
  std::memcpy(ipText, result.struDevInfo.struDevIP.sIpV4, sizeof result.struDevInfo.struDevIP.sIpV4);
  face->cameraIp = ipText;
  face->faceId = static_cast<int32_t>(result.dwFacePicID);
  face->packedTime = result.dwAbsTime;
  face->eventTime = CameraTimeToEventTime(UnpackCameraTime(result.dwAbsTime));
  face->wearMask = result.struFeature.byMask == 255 ? -1 : result.struFeature.byMask;

  NET_VCA_FACESNAP_ADDINFO addInfo;
  std::memset(&addInfo, 0, sizeof addInfo);
  if (result.byAddInfo != 0 && result.pAddInfoBuffer != nullptr) {
    std::memcpy(&addInfo, result.pAddInfoBuffer, sizeof addInfo);
  }
  face->temperature = addInfo.fFaceTemperature;
  face->temperatureAbnormal = addInfo.byIsAbnomalTemperature;
  face->temperatureUnit = addInfo.byThermometryUnit;

  face->jpeg = result.pBuffer1;
  face->jpegLength = result.pBuffer1 != nullptr ? result.dwFacePicLen : 0;
  return true;
}

void OnDeviceMessage(int32_t command, NET_DVR_ALARMER* alarmer, char* alarmInfo,
                     uint32_t length, void* user) {
  if (command != COMM_UPLOAD_FACESNAP_RESULT || user == nullptr) return;
  if (alarmer != nullptr) metrics::DeviceAlarm(alarmer->sDeviceIP, alarmer->wLinkPort);
  FaceAlarm face;
  if (DecodeFaceAlarm(alarmInfo, length, &face)) {
    static_cast<FaceAlarmHandler*>(user)->OnFaceAlarm(face);
  }
}
