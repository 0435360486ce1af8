// The entry of every face-snapshot alarm: drops alarms of unknown cameras and repeated face
// ids, turns the vendor's alarm into a FaceSnapshot (thumbnail for large pictures, base64),
// and hands it to the face client or straight to the event writer.
// OnFaceSnapAlarm may be called from any thread; intakeLock_ serialises whole alarms, so the
// duplicate cache, the two work files and the face client creation are never used at once.
#pragma once

#include <cstdint>
#include <ctime>
#include <list>
#include <map>
#include <mutex>
#include <string>

#include "config/DeviceConfig.h"
#include "config/FaceServiceConfig.h"
#include "pipeline/EventFileWriter.h"
#include "pipeline/FaceClientSlot.h"

struct IntakeSettings {
  int32_t MaxFaceSize = 12288;  // compared as unsigned
  int32_t MaxFaceWidth = 200;
  int32_t MaxFaceHeight = 200;
  int32_t MaxCacheCount = 10;  // compared as unsigned
  std::string ProgramFolder;   // where the work files tmpSrc.jpg and tmpDest.jpg go
};

// The camera's packed local time: (year-2000)<<26 | month<<22 | day<<17 | hour<<12 | min<<6 | s.
struct CameraTime {
  int year, month, day, hour, minute, second;
};
CameraTime UnpackCameraTime(uint32_t packed);
// The time value of a camera time read as local time, the daylight-saving flag left to the
// platform's conversion.
std::time_t CameraTimeToEventTime(const CameraTime& t);

class SnapshotIntake {
 public:
  // Everything given is read without a lock and must not change while alarms arrive;
  // faceService may be null (no face service). The references must outlive the intake.
  SnapshotIntake(IntakeSettings settings, const PosIdMap& posIdByIp, const std::string& defaultPosId,
                 const FaceServiceConfig* faceService, FaceClientSlot& faceClients,
                 const EventFileWriter& writer);
  SnapshotIntake(const SnapshotIntake&) = delete;
  SnapshotIntake& operator=(const SnapshotIntake&) = delete;

  // alarm points to a NET_VCA_FACESNAP_RESULT of length bytes.
  void OnFaceSnapAlarm(const char* alarm, uint32_t length);

  // True when the camera sent this face id recently; records the id otherwise.
  bool IsDuplicateFace(const std::string& ip, int32_t faceId);

 private:
  bool IsDuplicateFaceLocked(const std::string& ip, int32_t faceId);
  bool LoadThumbnail(const unsigned char* jpeg, uint32_t length, std::string* picture);
  void HandOff(FaceSnapshot* snapshot);

  // Constant after construction.
  const IntakeSettings settings_;
  const std::string workSource_;
  const std::string workDestination_;
  const PosIdMap& posIdByIp_;
  const std::string& defaultPosId_;
  const FaceServiceConfig* const faceService_;
  FaceClientSlot& faceClients_;
  const EventFileWriter& writer_;

  std::mutex intakeLock_;
  // Per camera, the most recent distinct face ids, oldest first. Guarded by intakeLock_.
  std::map<std::string, std::list<int32_t>> FaceIdCache;
  bool warnedNoClient_ = false;  // guarded by intakeLock_
};
