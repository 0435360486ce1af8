#include "metrics/Metrics.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>

#include <chrono>

#include "metrics/SiteMetrics.h"
#include "records/DeviceConnection.h"

namespace metrics {

namespace {

SiteMetrics& Site() { return SiteMetrics::Get(); }

}  // namespace

int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void RegisterDevice(const std::string& ip, int port, const std::string& posId) {
  Site().RegisterDevice(ip, port, posId);
}

void DeviceLogin(const std::string& ip, int port, bool succeeded, uint32_t errorCode) {
  DeviceMetrics* device = Site().FindDevice(ip.c_str(), port);
  if (device == nullptr) return;
  if (succeeded) {
    device->logins->Increment();
  } else {
    device->loginFailures->Increment();
    device->loginError.Note(errorCode);
  }
}

void DeviceState(const std::string& ip, int port, int state) {
  DeviceMetrics* device = Site().FindDevice(ip.c_str(), port);
  if (device == nullptr) return;
  const double online = state == kDeviceOnline ? 1 : 0;
  if (device->online->Value() != online) {
    device->online->Set(online);
    device->stateSince = SiteMetrics::NowSeconds();
  }
}

void DeviceAlarm(const char* ip, int port) {
  if (DeviceMetrics* device = Site().FindDevice(ip, port)) device->alarms->Increment();
}

void AlarmAccepted() { Site().alarmsAccepted->Increment(); }
void AlarmDuplicate() { Site().alarmsDuplicate->Increment(); }
void AlarmUnknownDevice() { Site().alarmsUnknown->Increment(); }

void AlarmDropped(DropReason reason) {
  SiteMetrics& site = Site();
  site.alarmsDropped[static_cast<int>(reason)]->Increment();
  site.dropError.Note(static_cast<int64_t>(reason));
}

void EventWritten() {
  SiteMetrics& site = Site();
  const int64_t now = SiteMetrics::NowSeconds();
  site.eventsWritten->Increment();
  site.lastEventTime->Set(static_cast<double>(now));
  site.eventsByMinute.Add(now / 60);
}

void EventWriteFailed(const std::string& reason) {
  SiteMetrics& site = Site();
  site.eventWriteFailures->Increment();
  site.NoteEventError(reason);
}

void SpoolState(std::size_t entries, uint64_t bytes) {
  SiteMetrics& site = Site();
  site.spoolEntries->Set(static_cast<double>(entries));
  site.spoolBytes->Set(static_cast<double>(bytes));
}

void SpoolLimits(std::size_t maxEntries, uint64_t maxBytes) {
  SiteMetrics& site = Site();
  site.spoolLimitEntries->Set(static_cast<double>(maxEntries));
  site.spoolLimitBytes->Set(static_cast<double>(maxBytes));
}

void SpoolRefused() { Site().spoolRefused->Increment(); }
void SpoolResumed(std::size_t entries) { Site().spoolResumed->Increment(static_cast<double>(entries)); }
void SpoolCorrupt() { Site().spoolCorrupt->Increment(); }
void SpoolSync() { Site().spoolSyncs->Increment(); }

void FaceDone(int32_t groupId, int64_t queuedAtNs) {
  SiteMetrics& site = Site();
  const FaceOutcome outcome = OutcomeOfGroup(groupId);
  site.faceRequests[static_cast<int>(outcome)]->Increment();
  const int64_t minute = SiteMetrics::NowMinute();
  site.faceByMinute.Add(minute);
  if (outcome == FaceOutcome::kUnanswered) site.unansweredByMinute.Add(minute);
  if (queuedAtNs > 0)
    site.faceDuration->Observe(static_cast<double>(SteadyNowNs() - queuedAtNs) / 1e9);
}

void FaceQueueDepth(std::size_t snapshots) {
  Site().faceQueueDepth->Set(static_cast<double>(snapshots));
}

void FacePending(std::size_t snapshots) { Site().facePending->Set(static_cast<double>(snapshots)); }

void FaceStreamConnected(const char* stream, bool connected) {
  StreamMetrics* metrics = Site().Stream(stream);
  if (metrics == nullptr) return;
  const double value = connected ? 1 : 0;
  if (metrics->connected->Value() != value) {
    metrics->connected->Set(value);
    metrics->since = SiteMetrics::NowSeconds();
  }
}

void FaceServiceAnswer(int status, int clientError) {
  if (status == 200) return;
  Site().faceServiceError.Note(status > 0 ? status : -static_cast<int64_t>(clientError));
}

}  // namespace metrics
