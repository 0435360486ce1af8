// The entry of every face-snapshot alarm: drops alarms of unknown cameras and repeated face
// ids, turns the camera's FaceAlarm into a FaceSnapshot (thumbnail for large pictures, base64),
// and hands it to the spool, which makes it durable before anything waits for it.
// OnFaceAlarm may be called from any thread. intakeLock_ guards only the duplicate cache and
// is held for a lookup, never for a picture: large pictures are made into thumbnails by
// thumbnails_, which owns the work files, so one camera's costly picture holds up no other
// camera.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "config/DeviceConfig.h"
#include "config/FaceServiceConfig.h"
#include "pipeline/DuplicateFaceCache.h"
#include "pipeline/SnapThumbnailWorkers.h"
#include "pipeline/Spool.h"
#include "records/FaceAlarm.h"
#include "support/StageWatch.h"

struct IntakeSettings {
  int32_t MaxFaceSize = 12288;  // compared as unsigned
  int32_t MaxFaceWidth = 200;
  int32_t MaxFaceHeight = 200;
  int32_t MaxCacheCount = 10;  // compared as unsigned
  std::string ProgramFolder;   // where the work files tmpSrc.jpg and tmpDest.jpg go
  // Threads that make thumbnails; 0 makes them on the thread that delivers the alarm.
  int ThumbnailThreads = 0;
};

class SnapshotIntake : public FaceAlarmHandler {
 public:
  // Everything given is read without a lock and must not change while alarms arrive;
  // faceService may be null (no face service). The references must outlive the intake.
  SnapshotIntake(IntakeSettings settings, const PosIdMap& posIdByIp, const std::string& defaultPosId,
                 const FaceServiceConfig* faceService, Spool& spool);
  SnapshotIntake(const SnapshotIntake&) = delete;
  SnapshotIntake& operator=(const SnapshotIntake&) = delete;

  // With thumbnail threads, a large picture's snapshot is handed on from one of them, after
  // this returns.
  void OnFaceAlarm(const FaceAlarm& alarm) override;
  // Hands on every snapshot still waiting for its thumbnail; call once no alarm comes any more.
  void Stop();

  // True when the camera sent this face id recently; records the id otherwise.
  bool IsDuplicateFace(const std::string& ip, int32_t faceId);

 private:
  void MakeThumbnail(ThumbnailJob& job, const SnapWorkFiles& files);
  // Refuses (and logs) a picture whose decode would cost more than a capture camera ever needs.
  bool RefusedAsTooCostly(const ThumbnailJob& job);
  bool LoadThumbnail(const ThumbnailJob& job, const SnapWorkFiles& files, std::string* picture);
  void HandOff(FaceSnapshot* snapshot);

  // Constant after construction.
  const IntakeSettings settings_;
  const PosIdMap& posIdByIp_;
  const std::string& defaultPosId_;
  const FaceServiceConfig* const faceService_;
  Spool& spool_;

  std::mutex intakeLock_;
  DuplicateFaceCache FaceIdCache;  // guarded by intakeLock_
  // The thread that delivers alarms; it makes a thumbnail itself only when every thread's
  // backlog is full.
  StageWatch::Slot watched_{StageWatch::Default(), "intake", 30000};
  SnapThumbnailWorkers thumbnails_;  // last: its threads use the members above
};
