#include "metrics/StatusPage.h"

#include <httplib.h>
#include <prometheus/counter.h>
#include <prometheus/gauge.h>

#include <cinttypes>
#include <cstdio>

#include "metrics/SiteMetrics.h"
#include "records/LoginError.h"

namespace metrics {

namespace {

constexpr int kLastHourMinutes = 60;
constexpr int kRecentMinutes = 5;

// A compact JSON text written front to back; members are separated as they come.
class JsonWriter {
 public:
  JsonWriter& Open(const char* key = nullptr) { return Start(key, '{'); }
  JsonWriter& OpenArray(const char* key) { return Start(key, '['); }
  JsonWriter& Close(char bracket = '}') {
    text_ += bracket;
    first_ = false;
    return *this;
  }
  JsonWriter& Number(const char* key, int64_t value) {
    Key(key);
    text_ += std::to_string(value);
    return *this;
  }
  JsonWriter& Count(const char* key, double value) {
    return Number(key, static_cast<int64_t>(value));
  }
  JsonWriter& Bool(const char* key, bool value) {
    Key(key);
    text_ += value ? "true" : "false";
    return *this;
  }
  JsonWriter& String(const char* key, const std::string& value) {
    Key(key);
    Quoted(ValidUtf8(value));
    return *this;
  }
  JsonWriter& Null(const char* key) {
    Key(key);
    text_ += "null";
    return *this;
  }
  const std::string& Text() const { return text_; }

 private:
  JsonWriter& Start(const char* key, char bracket) {
    Key(key);
    text_ += bracket;
    first_ = true;
    return *this;
  }
  void Key(const char* key) {
    if (!first_) text_ += ',';
    first_ = false;
    if (key == nullptr) return;
    Quoted(key);
    text_ += ':';
  }
  void Quoted(const std::string& value) {
    text_ += '"';
    for (const char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      if (c == '"' || c == '\\') {
        text_ += '\\';
        text_ += c;
      } else if (byte < 0x20 || byte == 0x7f) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
        text_ += escaped;
      } else {
        text_ += c;
      }
    }
    text_ += '"';
  }

  std::string text_;
  bool first_ = true;
};

void LastErrorMember(JsonWriter& json, int64_t time, const std::string& text) {
  if (time == 0) {
    json.Null("last_error");
    return;
  }
  json.Open("last_error").String("text", text).Number("time", time).Close();
}

std::string FaceServiceErrorText(int64_t code) {
  if (code > 0) return "answered with status " + std::to_string(code);
  return "no answer: " + httplib::to_string(static_cast<httplib::Error>(-code));
}

void Devices(JsonWriter& json, const SiteMetrics& site) {
  json.OpenArray("devices");
  for (int i = 0; i < site.DeviceCount(); ++i) {
    const DeviceMetrics& device = site.Device(i);
    json.Open()
        .String("device", device.label)
        .String("pos", device.posId)
        .Bool("online", device.online->Value() == 1)
        .Number("since", device.stateSince.load())
        .Count("logins", device.logins->Value())
        .Count("login_failures", device.loginFailures->Value())
        .Count("alarms", device.alarms->Value());
    const int64_t time = device.loginError.time.load(std::memory_order_acquire);
    LastErrorMember(json, time,
                    LoginFailureText(static_cast<uint32_t>(device.loginError.code.load())));
    json.Close();
  }
  json.Close(']');
}

void Alarms(JsonWriter& json, const SiteMetrics& site) {
  json.Open("alarms")
      .Count("accepted", site.alarmsAccepted->Value())
      .Count("duplicate", site.alarmsDuplicate->Value())
      .Count("unknown_device", site.alarmsUnknown->Value())
      .Open("dropped");
  for (int i = 0; i < kDropReasonCount; ++i) {
    json.Count(DropReasonName(static_cast<DropReason>(i)), site.alarmsDropped[i]->Value());
  }
  json.Close();
  const int64_t time = site.dropError.time.load(std::memory_order_acquire);
  const auto reason = static_cast<DropReason>(site.dropError.code.load());
  LastErrorMember(json, time, std::string("alarm dropped: ") + DropReasonName(reason));
  json.Close();
}

void Events(JsonWriter& json, const SiteMetrics& site, int64_t minute) {
  int64_t errorTime = 0;
  const std::string error = site.EventError(&errorTime);
  json.Open("events")
      .Count("written", site.eventsWritten->Value())
      .Number("written_last_hour",
              static_cast<int64_t>(site.eventsByMinute.Sum(minute, kLastHourMinutes)))
      .Count("write_failures", site.eventWriteFailures->Value())
      .Count("spool_entries", site.spoolEntries->Value())
      .Count("spool_bytes", site.spoolBytes->Value())
      .Count("spool_refused", site.spoolRefused->Value())
      .Count("spool_resumed", site.spoolResumed->Value())
      .Count("spool_corrupt", site.spoolCorrupt->Value())
      .Count("spool_limit_entries", site.spoolLimitEntries->Value())
      .Count("spool_limit_bytes", site.spoolLimitBytes->Value())
      .Count("last_event_time", site.lastEventTime->Value());
  LastErrorMember(json, errorTime, error);
  json.Close();
}

void Face(JsonWriter& json, const SiteMetrics& site, int64_t minute) {
  json.Open("face").Open("requests");
  for (int i = 0; i < kFaceOutcomeCount; ++i) {
    json.Count(OutcomeName(static_cast<FaceOutcome>(i)), site.faceRequests[i]->Value());
  }
  json.Close()
      .Number("requests_last_5_minutes",
              static_cast<int64_t>(site.faceByMinute.Sum(minute, kRecentMinutes)))
      .Number("unanswered_last_5_minutes",
              static_cast<int64_t>(site.unansweredByMinute.Sum(minute, kRecentMinutes)))
      .Count("queue_depth", site.faceQueueDepth->Value())
      .Count("pending", site.facePending->Value())
      .OpenArray("streams");
  for (int i = 0; i < site.StreamCount(); ++i) {
    const StreamMetrics& stream = site.StreamAt(i);
    json.Open()
        .String("stream", stream.name)
        .Bool("connected", stream.connected->Value() == 1)
        .Number("since", stream.since.load())
        .Close();
  }
  json.Close(']');
  const int64_t time = site.faceServiceError.time.load(std::memory_order_acquire);
  LastErrorMember(json, time, FaceServiceErrorText(site.faceServiceError.code.load()));
  json.Close();
}

}  // namespace

std::string ValidUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80                    ? 1
                         : lead >= 0xC2 && lead <= 0xDF ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    if (valid && length >= 3) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      // No overlong forms, no surrogates, nothing above U+10FFFF.
      valid = !(lead == 0xE0 && second < 0xA0) && !(lead == 0xED && second >= 0xA0) &&
              !(lead == 0xF0 && second < 0x90) && !(lead == 0xF4 && second >= 0x90);
    }
    if (valid) {
      out.append(text, i, length);
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

std::string StatusJson(const SiteMetrics& site) {
  const int64_t now = SiteMetrics::NowSeconds();
  JsonWriter json;
  json.Open()
      .String("version", VESTREL_VERSION)
      .Number("start_time", site.startTime)
      .Number("time", now);
  Devices(json, site);
  Alarms(json, site);
  Events(json, site, now / 60);
  Face(json, site, now / 60);
  json.Close();
  return json.Text();
}

}  // namespace metrics
