#include "metrics/StatusPage.h"

#include <curl/curl.h>
#include <prometheus/counter.h>
#include <prometheus/gauge.h>

#include <cstdint>

#include "metrics/SiteMetrics.h"
#include "records/LoginError.h"
#include "support/JsonObject.h"
#include "support/PeerText.h"

namespace metrics {

namespace {

constexpr int kLastHourMinutes = 60;
constexpr int kRecentMinutes = 5;

using neb::CJsonObject;

// Peer text (a POS id, an error text) as the document holds it: valid UTF-8, whose control
// characters the printer escapes.
void Text(CJsonObject& json, const char* key, const std::string& value) {
  json.Add(key, ValidUtf8(value));
}

void Count(CJsonObject& json, const char* key, double value) {
  json.Add(key, static_cast<int64_t>(value));
}

void LastErrorMember(CJsonObject& json, int64_t time, const std::string& text) {
  if (time == 0) {
    json.AddNull("last_error");
    return;
  }
  CJsonObject error;
  Text(error, "text", text);
  error.Add("time", time);
  json.Add("last_error", error);
}

std::string FaceServiceErrorText(int64_t code) {
  if (code > 0) return "answered with status " + std::to_string(code);
  return std::string("no answer: ") + curl_easy_strerror(static_cast<CURLcode>(-code));
}

void Devices(CJsonObject& json, const SiteMetrics& site) {
  CJsonObject devices("[]");
  for (int i = 0; i < site.DeviceCount(); ++i) {
    const DeviceMetrics& device = site.Device(i);
    CJsonObject entry;
    Text(entry, "device", device.label);
    Text(entry, "pos", device.posId);
    entry.AddBool("online", device.online->Value() == 1);
    entry.Add("since", device.stateSince.load());
    Count(entry, "logins", device.logins->Value());
    Count(entry, "login_failures", device.loginFailures->Value());
    Count(entry, "alarms", device.alarms->Value());
    const int64_t time = device.loginError.time.load(std::memory_order_acquire);
    LastErrorMember(entry, time,
                    LoginFailureText(static_cast<uint32_t>(device.loginError.code.load())));
    devices.Add(entry);
  }
  json.Add("devices", devices);
}

void Alarms(CJsonObject& json, const SiteMetrics& site) {
  CJsonObject alarms;
  Count(alarms, "accepted", site.alarmsAccepted->Value());
  Count(alarms, "duplicate", site.alarmsDuplicate->Value());
  Count(alarms, "unknown_device", site.alarmsUnknown->Value());
  CJsonObject dropped;
  for (int i = 0; i < kDropReasonCount; ++i) {
    Count(dropped, DropReasonName(static_cast<DropReason>(i)), site.alarmsDropped[i]->Value());
  }
  alarms.Add("dropped", dropped);
  const int64_t time = site.dropError.time.load(std::memory_order_acquire);
  const auto reason = static_cast<DropReason>(site.dropError.code.load());
  LastErrorMember(alarms, time, std::string("alarm dropped: ") + DropReasonName(reason));
  json.Add("alarms", alarms);
}

void Events(CJsonObject& json, const SiteMetrics& site, int64_t minute) {
  int64_t errorTime = 0;
  const std::string error = site.EventError(&errorTime);
  CJsonObject events;
  Count(events, "written", site.eventsWritten->Value());
  events.Add("written_last_hour",
             static_cast<int64_t>(site.eventsByMinute.Sum(minute, kLastHourMinutes)));
  Count(events, "write_failures", site.eventWriteFailures->Value());
  Count(events, "spool_entries", site.spoolEntries->Value());
  Count(events, "spool_bytes", site.spoolBytes->Value());
  Count(events, "spool_refused", site.spoolRefused->Value());
  Count(events, "spool_resumed", site.spoolResumed->Value());
  Count(events, "spool_corrupt", site.spoolCorrupt->Value());
  Count(events, "spool_limit_entries", site.spoolLimitEntries->Value());
  Count(events, "spool_limit_bytes", site.spoolLimitBytes->Value());
  Count(events, "last_event_time", site.lastEventTime->Value());
  LastErrorMember(events, errorTime, error);
  json.Add("events", events);
}

void Face(CJsonObject& json, const SiteMetrics& site, int64_t minute) {
  CJsonObject face;
  CJsonObject requests;
  for (int i = 0; i < kFaceOutcomeCount; ++i) {
    Count(requests, OutcomeName(static_cast<FaceOutcome>(i)), site.faceRequests[i]->Value());
  }
  face.Add("requests", requests);
  face.Add("requests_last_5_minutes",
           static_cast<int64_t>(site.faceByMinute.Sum(minute, kRecentMinutes)));
  face.Add("unanswered_last_5_minutes",
           static_cast<int64_t>(site.unansweredByMinute.Sum(minute, kRecentMinutes)));
  Count(face, "queue_depth", site.faceQueueDepth->Value());
  Count(face, "pending", site.facePending->Value());
  CJsonObject streams("[]");
  for (int i = 0; i < site.StreamCount(); ++i) {
    const StreamMetrics& stream = site.StreamAt(i);
    CJsonObject entry;
    Text(entry, "stream", stream.name);
    entry.AddBool("connected", stream.connected->Value() == 1);
    entry.Add("since", stream.since.load());
    streams.Add(entry);
  }
  face.Add("streams", streams);
  const int64_t time = site.faceServiceError.time.load(std::memory_order_acquire);
  LastErrorMember(face, time, FaceServiceErrorText(site.faceServiceError.code.load()));
  json.Add("face", face);
}

}  // namespace

std::string StatusJson(const SiteMetrics& site) {
  const int64_t now = SiteMetrics::NowSeconds();
  CJsonObject json;
  json.Add("version", std::string(VESTREL_VERSION));
  json.Add("start_time", site.startTime);
  json.Add("time", now);
  Devices(json, site);
  Alarms(json, site);
  Events(json, site, now / 60);
  Face(json, site, now / 60);
  return json.ToString();
}

}  // namespace metrics
