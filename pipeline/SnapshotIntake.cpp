#include "pipeline/SnapshotIntake.h"

#include <exception>
#include <memory>

#include "metrics/Metrics.h"
#include "platform/FileSystem.h"
#include "pipeline/JpegCodec.h"
#include "pipeline/SnapThumbnail.h"
#include "support/Base64.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"

SnapshotIntake::SnapshotIntake(IntakeSettings settings, const PosIdMap& posIdByIp,
                               const std::string& defaultPosId,
                               const FaceServiceConfig* faceService, Spool& spool)
    : settings_(std::move(settings)),
      posIdByIp_(posIdByIp),
      defaultPosId_(defaultPosId),
      faceService_(faceService),
      spool_(spool),
      FaceIdCache(settings_.MaxCacheCount),
      thumbnails_(settings_.ProgramFolder, settings_.ThumbnailThreads,
                  [this](ThumbnailJob& job, const SnapWorkFiles& files) {
                    MakeThumbnail(job, files);
                  }) {}

void SnapshotIntake::Stop() { thumbnails_.Stop(); }

bool SnapshotIntake::IsDuplicateFace(const std::string& ip, int32_t faceId) {
  std::lock_guard<std::mutex> guard(intakeLock_);
  return FaceIdCache.SeenOrRecord(ip, faceId);
}

void SnapshotIntake::OnFaceAlarm(const FaceAlarm& alarm) {
  StageWatch::Item item(&watched_);
  CLogHelper* log = CLogHelper::GetInstance();
  const std::string& ip = alarm.cameraIp;
  const int32_t faceId = alarm.faceId;

  const auto posId = posIdByIp_.find(ip);
  if (posId == posIdByIp_.end() && defaultPosId_.empty()) {
    log->LogInfoF("Device config for %s not found...", LogSafe(ip).c_str());
    metrics::AlarmUnknownDevice();
    return;
  }
  if (IsDuplicateFace(ip, faceId)) {
    log->LogInfoF("IP(%s), Duplicate face id received(%d)...", LogSafe(ip).c_str(), faceId);
    metrics::AlarmDuplicate();
    return;
  }

  auto snapshot = std::make_unique<FaceSnapshot>();
  snapshot->FaceID = faceId;
  snapshot->WearMask = alarm.wearMask;
  log->LogDebugF("Receiving face snapshot, size(%d), id(%d), time(%d)\n",
                 static_cast<int32_t>(alarm.jpegLength), faceId,
                 static_cast<int32_t>(alarm.packedTime));

  snapshot->FaceTemperature = alarm.temperature;
  snapshot->TemperatureStatus = alarm.temperatureAbnormal;
  snapshot->TemperatureUnit = alarm.temperatureUnit;
  snapshot->EventTime = alarm.eventTime;
  snapshot->PosId = posId != posIdByIp_.end() ? posId->second : defaultPosId_;
  snapshot->GroupId = kGroupNotIdentified;
  snapshot->Confidence = "0.0";

  const unsigned char* jpeg = alarm.jpeg;
  const uint32_t jpegLength = alarm.jpegLength;
  if (jpegLength <= static_cast<uint32_t>(settings_.MaxFaceSize)) {
    snapshot->Picture = Base64Encode(jpeg, static_cast<int>(jpegLength));
    HandOff(snapshot.release());
    return;
  }
  auto job = std::make_unique<ThumbnailJob>();
  job->camera = ip;
  job->jpeg.assign(jpeg, jpeg + jpegLength);
  job->snapshot = std::move(snapshot);
  switch (thumbnails_.Post(job)) {
    case SnapThumbnailWorkers::Posted::kQueued:
      return;
    case SnapThumbnailWorkers::Posted::kCameraBacklogFull:
      // Only this camera sends faster than its pictures can be made; the others go on.
      log->LogInfo("Failed to generate snap thumbnail");
      log->LogInfoF("Picture of camera %s refused: %zu of its pictures wait for a thumbnail",
                    LogSafe(ip).c_str(), SnapThumbnailWorkers::kMaxJobsPerCamera);
      metrics::AlarmDropped(metrics::DropReason::kPictureRefused);
      return;
    default:
      // No threads, or every backlog is full: the alarm thread makes it and so slows the SDK.
      thumbnails_.RunHere(*job);
  }
}

// On a thumbnail thread, or on the alarm thread when there is none.
void SnapshotIntake::MakeThumbnail(ThumbnailJob& job, const SnapWorkFiles& files) {
  try {
    if (RefusedAsTooCostly(job)) {
      metrics::AlarmDropped(metrics::DropReason::kPictureRefused);
    } else if (LoadThumbnail(job, files, &job.snapshot->Picture)) {
      HandOff(job.snapshot.release());
    } else {
      metrics::AlarmDropped(metrics::DropReason::kThumbnail);
    }
  } catch (const std::exception& e) {
    CLogHelper::GetInstance()->LogInfoF("Failed to generate snap thumbnail of camera %s: %s",
                                        LogSafe(job.camera).c_str(), e.what());
    metrics::AlarmDropped(metrics::DropReason::kThumbnail);
  }
}

bool SnapshotIntake::RefusedAsTooCostly(const ThumbnailJob& job) {
  // Each scan of a progressive picture walks the whole picture: too many are refused unread.
  if (CountJpegScans(job.jpeg.data(), job.jpeg.size(), kMaxJpegScans) <= kMaxJpegScans) {
    return false;
  }
  CLogHelper* log = CLogHelper::GetInstance();
  log->LogInfo("Failed to generate snap thumbnail");
  log->LogInfoF("Picture of camera %s refused: JPEG picture has more than %d scans",
                LogSafe(job.camera).c_str(), kMaxJpegScans);
  return true;
}

// Large pictures go through the two work files and come back as a thumbnail.
bool SnapshotIntake::LoadThumbnail(const ThumbnailJob& job, const SnapWorkFiles& files,
                                   std::string* picture) {
  CLogHelper* log = CLogHelper::GetInstance();
  std::size_t written = 0;
  int errorCode = 0;
  // A short write would hand a cut picture on; it counts as a failed write.
  if (!platform::WriteWholeFile(files.source, job.jpeg.data(), job.jpeg.size(), &written,
                                &errorCode)) {
    log->LogInfoF("Error: 0x%08x", static_cast<unsigned>(errorCode));
    return false;
  }
  const bool resized = written > static_cast<uint32_t>(settings_.MaxFaceSize);
  std::string why;
  if (resized && !MakeSnapThumbnail(files.source, files.destination, settings_.MaxFaceWidth,
                                    settings_.MaxFaceHeight, &why)) {
    log->LogInfo("Failed to generate snap thumbnail");
    log->LogInfoF("Picture of camera %s refused: %s", LogSafe(job.camera).c_str(),
                  LogSafe(why).c_str());
    return false;
  }
  const std::string& source = resized ? files.destination : files.source;
  if (!platform::FileExists(source)) {
    log->LogInfo("Failed to open snap thumbnail");
    return false;
  }
  std::string bytes;
  if (!platform::ReadOwnFile(source, &bytes, &errorCode)) {
    log->LogInfo("Failed to read snap thumbnail");
    return false;
  }
  *picture = Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  log->LogDebugF("Face snapshot jpg size(%d), base64 size(%d)\n", static_cast<int>(bytes.size()),
                 static_cast<int>(picture->size()));
  return true;
}

void SnapshotIntake::HandOff(FaceSnapshot* snapshot) {
  CLogHelper::GetInstance()->LogDebugF("Process face snapshot: id(%d) @%d\n", snapshot->FaceID,
                                       faceService_ != nullptr ? 1 : 2);
  spool_.Accept(std::unique_ptr<FaceSnapshot>(snapshot));
}
