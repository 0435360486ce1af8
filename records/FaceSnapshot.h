// The record that carries one accepted face-snapshot alarm from the intake, through a
// face client, to the event writer. It has exactly one owner at a time and is never copied
// by the pipeline; whoever owns it may read and write it without a lock.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Values of FaceSnapshot::GroupId.
enum GroupIdCode : int32_t {
  kGroupNotIdentified = -2,  // set by the intake; identified person without a listed group
  kGroupNoAnswer = -3,       // service unreachable, bad status, no result in time
  kGroupDetectFailed = -4,   // the service could not detect or extract the face
  kGroupNoMatch = -1,        // the score does not pass the threshold
  kGroupVip = 1,
  kGroupBlacklist = 2,  // wins over every other group
  kGroupEmployee = 3,
};

// The group code for a group name ("VIP", "Blacklist", "Employee"), or kGroupNotIdentified.
int32_t GroupIdForName(const std::string& groupName);

struct FaceSnapshot {
  std::time_t EventTime = 0;  // camera time, seconds since 1970
  int32_t FaceID = 0;
  std::string PosId;
  std::string Picture;  // base64 JPEG
  float FaceTemperature = 0.0f;
  int32_t TemperatureStatus = 0;
  std::string VerifyId;
  std::string PersonId;
  int32_t GroupId = kGroupNotIdentified;
  std::string PersonGroup;
  std::string Confidence = "0.0";
  std::string PersonName;  // ANSI code page
  int64_t VerifyTime = 0;
  int32_t TemperatureUnit = 0;
  int32_t WearMask = 0;
  int64_t QueuedAtNs = 0;  // metrics::SteadyNowNs() when a face client took it; 0: never
  uint64_t SpoolSeq = 0;   // its entry in the spool; 0: not spooled
};
