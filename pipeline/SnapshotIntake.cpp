#include "pipeline/SnapshotIntake.h"

#include <cstring>
#include <exception>
#include <memory>

#include "metrics/Metrics.h"
#include "platform/FileSystem.h"
#include "pipeline/JpegCodec.h"
#include "pipeline/SnapThumbnail.h"
#include "sdk/HCNetSDK.h"
#include "support/Base64.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"

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

void SnapshotIntake::OnFaceSnapAlarm(const char* alarm, uint32_t length) {
  StageWatch::Item item(watched_);
  CLogHelper* log = CLogHelper::GetInstance();
  if (alarm == nullptr || length < sizeof(NET_VCA_FACESNAP_RESULT)) {
    log->LogInfoF("Face snapshot alarm of %u bytes is too short, dropped", length);
    return;
  }
  NET_VCA_FACESNAP_RESULT result;
  std::memcpy(&result, alarm, sizeof result);
  char ipText[sizeof result.struDevInfo.struDevIP.sIpV4 + 1] = {};
  std::memcpy(ipText, result.struDevInfo.struDevIP.sIpV4, sizeof result.struDevInfo.struDevIP.sIpV4);
  const std::string ip = ipText;
  const int32_t faceId = static_cast<int32_t>(result.dwFacePicID);

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
  const CameraTime cameraTime = UnpackCameraTime(result.dwAbsTime);

  NET_VCA_FACESNAP_ADDINFO addInfo;
  std::memset(&addInfo, 0, sizeof addInfo);
  if (result.byAddInfo != 0 && result.pAddInfoBuffer != nullptr) {
    std::memcpy(&addInfo, result.pAddInfoBuffer, sizeof addInfo);
  }

  auto snapshot = std::make_unique<FaceSnapshot>();
  snapshot->FaceID = faceId;
  snapshot->WearMask = result.struFeature.byMask == 255 ? -1 : result.struFeature.byMask;
  log->LogDebugF("Receiving face snapshot, size(%d), id(%d), time(%d)\n",
                 static_cast<int32_t>(result.dwFacePicLen), faceId,
                 static_cast<int32_t>(result.dwAbsTime));

  snapshot->FaceTemperature = addInfo.fFaceTemperature;
  snapshot->TemperatureStatus = addInfo.byIsAbnomalTemperature;
  snapshot->TemperatureUnit = addInfo.byThermometryUnit;
  snapshot->EventTime = CameraTimeToEventTime(cameraTime);
  snapshot->PosId = posId != posIdByIp_.end() ? posId->second : defaultPosId_;
  snapshot->GroupId = kGroupNotIdentified;
  snapshot->Confidence = "0.0";

  const unsigned char* jpeg = result.pBuffer1;
  const uint32_t jpegLength = jpeg != nullptr ? result.dwFacePicLen : 0;
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
