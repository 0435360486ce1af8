// The one set of metrics of the process: the Prometheus registry with every family and every
// labelled child created up front (devices when they are registered, outcomes and reasons
// from their fixed sets), the per-minute windows and the last error of each component.
// Threads: the counting calls (Metrics.h) from any thread; Exposition and Status from the
// listener's threads. Devices are published through deviceCount_ (written under devicesLock_,
// read without it); streamsLock_ guards the stream table, eventErrorLock_ the event error text.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "metrics/Metrics.h"
#include "metrics/MinuteWindow.h"

namespace prometheus {
class Counter;
class Gauge;
class Histogram;
class Registry;
template <typename T>
class Family;
}  // namespace prometheus

namespace metrics {

// The face service's outcomes, by group id: >= 1, -1, -2, -3, -4.
enum class FaceOutcome { kIdentified = 0, kNoMatch, kNoGroup, kUnanswered, kUnreadable };
constexpr int kFaceOutcomeCount = 5;
FaceOutcome OutcomeOfGroup(int32_t groupId);
const char* OutcomeName(FaceOutcome outcome);
const char* DropReasonName(DropReason reason);

// When something last went wrong: seconds since 1970 (0: never) and a code to render.
struct LastError {
  std::atomic<int64_t> time{0};
  std::atomic<int64_t> code{0};
  void Note(int64_t errorCode);
};

struct DeviceMetrics {
  std::string ip;
  int port = 0;
  std::string label;  // "IP:PORT"
  std::string posId;
  prometheus::Gauge* online = nullptr;
  prometheus::Counter* logins = nullptr;
  prometheus::Counter* loginFailures = nullptr;
  prometheus::Counter* alarms = nullptr;
  std::atomic<int64_t> stateSince{0};  // seconds since 1970 of the last change of online
  LastError loginError;                // code: the SDK's error code
};

struct StreamMetrics {
  std::string name;
  prometheus::Gauge* connected = nullptr;
  std::atomic<int64_t> since{0};
};

class SiteMetrics {
 public:
  static constexpr int kMaxDevices = 1024;
  static constexpr int kMaxStreams = 8;

  // The process's instance; created on first use and never destroyed.
  static SiteMetrics& Get();

  SiteMetrics();
  ~SiteMetrics();
  SiteMetrics(const SiteMetrics&) = delete;
  SiteMetrics& operator=(const SiteMetrics&) = delete;

  // Adds a device, or finds the one with this address; null beyond kMaxDevices.
  DeviceMetrics* RegisterDevice(const std::string& ip, int port, const std::string& posId);
  DeviceMetrics* FindDevice(const char* ip, int port) const;
  int DeviceCount() const { return deviceCount_.load(std::memory_order_acquire); }
  const DeviceMetrics& Device(int index) const { return *devices_[index]; }

  // Finds or adds a stream; null beyond kMaxStreams.
  StreamMetrics* Stream(const char* name);
  int StreamCount() const { return streamCount_.load(std::memory_order_acquire); }
  const StreamMetrics& StreamAt(int index) const { return *streams_[index]; }

  void NoteEventError(const std::string& text);
  // The last event write error's text and time ("" and 0 when none).
  std::string EventError(int64_t* time) const;

  // The text exposition, format version 0.0.4.
  std::string Exposition() const;

  // Seconds and whole minutes since 1970.
  static int64_t NowSeconds();
  static int64_t NowMinute() { return NowSeconds() / 60; }

  const int64_t startTime;

  // The counted values. Pointers are set by the constructor and constant afterwards.
  prometheus::Counter* alarmsAccepted = nullptr;
  prometheus::Counter* alarmsDuplicate = nullptr;
  prometheus::Counter* alarmsUnknown = nullptr;
  prometheus::Counter* alarmsDropped[kDropReasonCount] = {};
  prometheus::Counter* eventsWritten = nullptr;
  prometheus::Counter* eventWriteFailures = nullptr;
  prometheus::Gauge* spoolEntries = nullptr;
  prometheus::Gauge* spoolBytes = nullptr;
  prometheus::Gauge* spoolLimitEntries = nullptr;
  prometheus::Gauge* spoolLimitBytes = nullptr;
  prometheus::Counter* spoolRefused = nullptr;
  prometheus::Counter* spoolResumed = nullptr;
  prometheus::Counter* spoolCorrupt = nullptr;
  prometheus::Counter* spoolSyncs = nullptr;
  prometheus::Gauge* lastEventTime = nullptr;
  prometheus::Counter* faceRequests[kFaceOutcomeCount] = {};
  prometheus::Histogram* faceDuration = nullptr;
  prometheus::Gauge* faceQueueDepth = nullptr;
  prometheus::Gauge* facePending = nullptr;

  MinuteWindow eventsByMinute;
  MinuteWindow faceByMinute;
  MinuteWindow unansweredByMinute;
  LastError dropError;         // code: the DropReason
  LastError faceServiceError;  // code: the HTTP status, or minus the client library's error

 private:
  std::shared_ptr<prometheus::Registry> registry_;
  prometheus::Family<prometheus::Gauge>* deviceOnline_ = nullptr;
  prometheus::Family<prometheus::Counter>* deviceLogins_ = nullptr;
  prometheus::Family<prometheus::Counter>* deviceLoginFailures_ = nullptr;
  prometheus::Family<prometheus::Counter>* deviceAlarms_ = nullptr;
  prometheus::Family<prometheus::Gauge>* streamConnected_ = nullptr;

  std::mutex devicesLock_;
  std::unique_ptr<DeviceMetrics> devices_[kMaxDevices];
  std::atomic<int> deviceCount_{0};

  std::mutex streamsLock_;
  std::unique_ptr<StreamMetrics> streams_[kMaxStreams];
  std::atomic<int> streamCount_{0};

  mutable std::mutex eventErrorLock_;
  std::string eventError_;      // guarded by eventErrorLock_
  int64_t eventErrorTime_ = 0;  // guarded by eventErrorLock_
};

}  // namespace metrics
