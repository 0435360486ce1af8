#include "metrics/SiteMetrics.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <chrono>
#include <cstring>

#ifndef VESTREL_VERSION
#define VESTREL_VERSION "unknown"
#endif

namespace metrics {

namespace {

// A metric without labels: its family and its one child.
prometheus::Counter& PlainCounter(prometheus::Registry& r, const char* name, const char* help) {
  return prometheus::BuildCounter().Name(name).Help(help).Register(r).Add({});
}
prometheus::Gauge& PlainGauge(prometheus::Registry& r, const char* name, const char* help) {
  return prometheus::BuildGauge().Name(name).Help(help).Register(r).Add({});
}

using prometheus::BuildCounter;
using prometheus::BuildGauge;
using prometheus::BuildHistogram;

const char* const kOutcomeNames[kFaceOutcomeCount] = {"identified", "no_match", "no_group",
                                                      "unanswered", "unreadable"};
const char* const kDropReasonNames[kDropReasonCount] = {"sdk_queue", "thumbnail",
                                                        "picture_refused"};

// From a snapshot queued to its result: 5 ms to 10 s.
const prometheus::Histogram::BucketBoundaries kDurationBuckets = {
    0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

}  // namespace

FaceOutcome OutcomeOfGroup(int32_t groupId) {
  if (groupId >= 1) return FaceOutcome::kIdentified;
  switch (groupId) {
    case -1:
      return FaceOutcome::kNoMatch;
    case -2:
    case 0:
      return FaceOutcome::kNoGroup;
    case -4:
      return FaceOutcome::kUnreadable;
    default:
      return FaceOutcome::kUnanswered;
  }
}

const char* OutcomeName(FaceOutcome outcome) { return kOutcomeNames[static_cast<int>(outcome)]; }

const char* DropReasonName(DropReason reason) { return kDropReasonNames[static_cast<int>(reason)]; }

void LastError::Note(int64_t errorCode) {
  code.store(errorCode, std::memory_order_relaxed);
  time.store(SiteMetrics::NowSeconds(), std::memory_order_release);
}

SiteMetrics& SiteMetrics::Get() {
  // Never destroyed: threads may count until the process ends.
  static SiteMetrics* const instance = new SiteMetrics();
  return *instance;
}

int64_t SiteMetrics::NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

SiteMetrics::SiteMetrics()
    : startTime(NowSeconds()), registry_(std::make_shared<prometheus::Registry>()) {
  prometheus::Registry& r = *registry_;
  BuildGauge()
      .Name("vestrel_build_info")
      .Help("Vestrel's version; always 1")
      .Register(r)
      .Add({{"version", VESTREL_VERSION}})
      .Set(1);
  BuildGauge()
      .Name("vestrel_start_time_seconds")
      .Help("When Vestrel started, seconds since 1970")
      .Register(r)
      .Add({})
      .Set(static_cast<double>(startTime));

  deviceOnline_ = &BuildGauge()
                       .Name("vestrel_device_online")
                       .Help("1 while the device is logged in and reachable")
                       .Register(r);
  deviceLogins_ = &BuildCounter()
                       .Name("vestrel_device_logins_total")
                       .Help("Successful logins to the device")
                       .Register(r);
  deviceLoginFailures_ = &BuildCounter()
                              .Name("vestrel_device_login_failures_total")
                              .Help("Failed logins to the device")
                              .Register(r);
  deviceAlarms_ = &BuildCounter()
                       .Name("vestrel_device_alarms_total")
                       .Help("Face-snapshot alarms the device delivered")
                       .Register(r);

  alarmsAccepted =
      &PlainCounter(r, "vestrel_alarms_accepted_total", "Alarms accepted by the intake");
  alarmsDuplicate =
      &PlainCounter(r, "vestrel_alarms_duplicate_total", "Alarms dropped as a repeated face id");
  alarmsUnknown = &PlainCounter(r, "vestrel_alarms_unknown_device_total",
                                "Alarms from a camera without a POS id");
  auto& dropped = BuildCounter()
                      .Name("vestrel_alarms_dropped_total")
                      .Help("Alarms dropped before they became a snapshot")
                      .Register(r);
  for (int i = 0; i < kDropReasonCount; ++i) {
    alarmsDropped[i] = &dropped.Add({{"reason", kDropReasonNames[i]}});
  }

  eventsWritten = &PlainCounter(r, "vestrel_events_written_total", "Event files written");
  eventWriteFailures = &PlainCounter(r, "vestrel_event_write_failures_total",
                                     "Event files that could not be written when they came");
  spoolEntries = &PlainGauge(r, "vestrel_spool_entries",
                             "Accepted snapshots and unpublished event files in the spool");
  spoolBytes = &PlainGauge(r, "vestrel_spool_bytes", "Size of the spool's entries");
  spoolLimitEntries =
      &PlainGauge(r, "vestrel_spool_limit_entries", "Entries the spool holds at most");
  spoolLimitBytes = &PlainGauge(r, "vestrel_spool_limit_bytes", "Bytes the spool holds at most");
  spoolRefused = &PlainCounter(r, "vestrel_spool_refused_total",
                               "Alarms refused at a bound of the spool or a disk failure");
  spoolResumed = &PlainCounter(r, "vestrel_spool_resumed_total",
                               "Spool entries resumed at start");
  spoolCorrupt = &PlainCounter(r, "vestrel_spool_corrupt_total",
                               "Spool entries that could not be read and were moved aside");
  spoolSyncs = &PlainCounter(r, "vestrel_spool_syncs_total",
                             "File and folder syncs made by the spool");
  lastEventTime = &PlainGauge(r, "vestrel_last_event_time_seconds",
                              "When the last event file was written, seconds since 1970");

  auto& requests = BuildCounter()
                       .Name("vestrel_face_requests_total")
                       .Help("Snapshots the face client finished, by outcome")
                       .Register(r);
  for (int i = 0; i < kFaceOutcomeCount; ++i) {
    faceRequests[i] = &requests.Add({{"outcome", kOutcomeNames[i]}});
  }
  faceDuration = &BuildHistogram()
                      .Name("vestrel_face_request_duration_seconds")
                      .Help("From a snapshot queued for the face service to its result")
                      .Register(r)
                      .Add({}, kDurationBuckets);
  faceQueueDepth =
      &PlainGauge(r, "vestrel_face_queue_depth", "Snapshots waiting for the face client");
  facePending = &PlainGauge(r, "vestrel_face_pending", "Snapshots waiting for their pushed result");
  streamConnected_ = &BuildGauge()
                          .Name("vestrel_face_stream_connected")
                          .Help("1 while the face service's result stream is open")
                          .Register(r);
}

SiteMetrics::~SiteMetrics() = default;

DeviceMetrics* SiteMetrics::RegisterDevice(const std::string& ip, int port,
                                           const std::string& posId) {
  std::lock_guard<std::mutex> guard(devicesLock_);
  if (DeviceMetrics* known = FindDevice(ip.c_str(), port)) return known;
  const int count = deviceCount_.load(std::memory_order_relaxed);
  if (count >= kMaxDevices) return nullptr;
  auto device = std::make_unique<DeviceMetrics>();
  device->ip = ip;
  device->port = port;
  device->label = ip + ":" + std::to_string(port);
  device->posId = posId;
  const prometheus::Labels labels = {{"device", device->label}, {"pos", posId}};
  device->online = &deviceOnline_->Add(labels);
  device->logins = &deviceLogins_->Add(labels);
  device->loginFailures = &deviceLoginFailures_->Add(labels);
  device->alarms = &deviceAlarms_->Add(labels);
  device->stateSince = startTime;
  devices_[count] = std::move(device);
  deviceCount_.store(count + 1, std::memory_order_release);
  return devices_[count].get();
}

DeviceMetrics* SiteMetrics::FindDevice(const char* ip, int port) const {
  if (ip == nullptr) return nullptr;
  const int count = DeviceCount();
  for (int i = 0; i < count; ++i) {
    DeviceMetrics* device = devices_[i].get();
    if (device->port == port && std::strcmp(device->ip.c_str(), ip) == 0) return device;
  }
  return nullptr;
}

StreamMetrics* SiteMetrics::Stream(const char* name) {
  if (name == nullptr) return nullptr;
  const int count = StreamCount();
  for (int i = 0; i < count; ++i) {
    if (streams_[i]->name == name) return streams_[i].get();
  }
  std::lock_guard<std::mutex> guard(streamsLock_);
  const int now = streamCount_.load(std::memory_order_relaxed);
  for (int i = count; i < now; ++i) {
    if (streams_[i]->name == name) return streams_[i].get();
  }
  if (now >= kMaxStreams) return nullptr;
  auto stream = std::make_unique<StreamMetrics>();
  stream->name = name;
  stream->connected = &streamConnected_->Add({{"stream", stream->name}});
  stream->since = NowSeconds();
  streams_[now] = std::move(stream);
  streamCount_.store(now + 1, std::memory_order_release);
  return streams_[now].get();
}

void SiteMetrics::NoteEventError(const std::string& text) {
  std::lock_guard<std::mutex> guard(eventErrorLock_);
  eventError_ = text;
  eventErrorTime_ = NowSeconds();
}

std::string SiteMetrics::EventError(int64_t* time) const {
  std::lock_guard<std::mutex> guard(eventErrorLock_);
  *time = eventErrorTime_;
  return eventError_;
}

std::string SiteMetrics::Exposition() const {
  return prometheus::TextSerializer().Serialize(registry_->Collect());
}

}  // namespace metrics
