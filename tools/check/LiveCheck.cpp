#include "tools/check/LiveCheck.h"

#include <httplib.h>

#include <cinttypes>
#include <cstdio>

#include "metrics/MetricsListener.h"
#include "platform/LocalTime.h"
#include "platform/Profile.h"
#include "support/JsonObject.h"
#include "support/PeerText.h"
#include "support/StringFormat.h"

namespace {

constexpr const char* kDefaultAddress = "127.0.0.1:9561";
constexpr int kTimeoutSeconds = 5;

using neb::CJsonObject;

int64_t Number(const CJsonObject& object, const char* key) {
  double value = 0;
  object.Get(key, value);
  return static_cast<int64_t>(value);
}

std::string Text(const CJsonObject& object, const char* key) {
  std::string value;
  object.Get(key, value);
  return LogSafe(value);
}

std::string TimeText(int64_t seconds) {
  std::tm local{};
  if (seconds <= 0 || !platform::ToLocalTime(static_cast<std::time_t>(seconds), &local)) {
    return "never";
  }
  return StringFormat("%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                      local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

// " (last error at TIME: TEXT)", or "" when there was none.
std::string LastError(const CJsonObject& object) {
  CJsonObject error;
  if (!object.Get("last_error", error) || error.GetType("text") != neb::kJsonString) return "";
  return " (last error at " + TimeText(Number(error, "time")) + ": " + Text(error, "text") + ")";
}

void Devices(const CJsonObject& status, LiveReport* report) {
  CJsonObject devices;
  status.Get("devices", devices);
  report->lines.push_back("Devices:");
  for (int i = 0; i < devices.GetArraySize(); ++i) {
    CJsonObject device;
    devices.Get(i, device);
    bool online = false;
    device.Get("online", online);
    const std::string name = Text(device, "device");
    report->lines.push_back(
        StringFormat("  %s (POS %s): %s since %s; %" PRId64 " alarms%s", name.c_str(),
                     Text(device, "pos").c_str(), online ? "online" : "OFFLINE",
                     TimeText(Number(device, "since")).c_str(), Number(device, "alarms"),
                     online ? "" : LastError(device).c_str()));
    if (!online) report->problems.push_back("device " + name + " is offline");
  }
  if (devices.GetArraySize() == 0) report->lines.push_back("  none");
}

void Events(const CJsonObject& status, LiveReport* report) {
  CJsonObject events;
  status.Get("events", events);
  const int64_t entries = Number(events, "spool_entries");
  const int64_t bytes = Number(events, "spool_bytes");
  const int64_t refused = Number(events, "spool_refused");
  const int64_t corrupt = Number(events, "spool_corrupt");
  report->lines.push_back(StringFormat(
      "Events: %" PRId64 " written in the last hour (%" PRId64 " since start), last at %s; "
      "spool %" PRId64 " entries (%" PRId64 " bytes), %" PRId64 " alarms refused, %" PRId64
      " resumed, %" PRId64 " corrupt%s",
      Number(events, "written_last_hour"), Number(events, "written"),
      TimeText(Number(events, "last_event_time")).c_str(), entries, bytes, refused,
      Number(events, "spool_resumed"), corrupt, LastError(events).c_str()));
  // Above 80 % of a bound the spool is about to refuse alarms.
  const int64_t maxEntries = Number(events, "spool_limit_entries");
  const int64_t maxBytes = Number(events, "spool_limit_bytes");
  if ((maxEntries > 0 && entries * 5 > maxEntries * 4) || (maxBytes > 0 && bytes * 5 > maxBytes * 4)) {
    report->problems.push_back(StringFormat("the spool is above 80 %% of a bound (%" PRId64
                                            " entries, %" PRId64 " bytes)",
                                            entries, bytes));
  }
  if (refused > 0) report->problems.push_back(StringFormat("%" PRId64 " alarms refused by the spool", refused));
  if (corrupt > 0) {
    report->problems.push_back(StringFormat("%" PRId64 " corrupt spool entries set aside", corrupt));
  }
}

void Face(const CJsonObject& status, LiveReport* report) {
  CJsonObject face;
  CJsonObject requests;
  status.Get("face", face);
  face.Get("requests", requests);
  std::string answers;
  for (const std::string& outcome : requests.GetKeys()) {
    answers += StringFormat("%s%s %" PRId64, answers.empty() ? "" : ", ", LogSafe(outcome).c_str(),
                            Number(requests, outcome.c_str()));
  }
  const int64_t recent = Number(face, "requests_last_5_minutes");
  const int64_t unanswered = Number(face, "unanswered_last_5_minutes");
  report->lines.push_back("Face service: " + answers + LastError(face));
  report->lines.push_back(StringFormat("  last 5 minutes: %" PRId64 " of %" PRId64
                                       " unanswered; queue %" PRId64 ", awaiting results %" PRId64,
                                       unanswered, recent, Number(face, "queue_depth"),
                                       Number(face, "pending")));
  CJsonObject streams;
  face.Get("streams", streams);
  for (int i = 0; i < streams.GetArraySize(); ++i) {
    CJsonObject stream;
    streams.Get(i, stream);
    bool connected = false;
    stream.Get("connected", connected);
    report->lines.push_back(StringFormat("  stream %s: %s since %s", Text(stream, "stream").c_str(),
                                         connected ? "connected" : "DOWN",
                                         TimeText(Number(stream, "since")).c_str()));
  }
  if (unanswered * 2 > recent) {
    report->problems.push_back(StringFormat("%" PRId64 " of %" PRId64
                                            " face requests in the last 5 minutes went unanswered",
                                            unanswered, recent));
  }
}

}  // namespace

std::string DefaultLiveAddress(const std::string& siteFolder) {
  const std::string listen =
      platform::GetProfileString("POSDataFormat", "MetricsListen", "", siteFolder + "/Config.ini");
  return listen.empty() ? kDefaultAddress : listen;
}

LiveReport ReadLiveStatus(const std::string& statusJson) {
  LiveReport report;
  const CJsonObject status(statusJson);
  if (status.GetType("devices") != neb::kJsonArray) {
    report.problems.push_back("the status page is not Vestrel's");
    return report;
  }
  report.lines.push_back(StringFormat("Vestrel %s, running since %s",
                                      Text(status, "version").c_str(),
                                      TimeText(Number(status, "start_time")).c_str()));
  Devices(status, &report);
  Events(status, &report);
  Face(status, &report);
  return report;
}

int RunLiveCheck(const std::string& address) {
  std::string ip;
  int port = 0;
  if (!metrics::ParseListenAddress(address, &ip, &port) || port == 0) {
    std::fprintf(stderr, "vestrel-check: --live wants IP:PORT, not %s\n", LogSafe(address).c_str());
    return 2;
  }
  std::printf("Vestrel live check: %s\n", address.c_str());
  httplib::Client client(ip, port);
  client.set_connection_timeout(kTimeoutSeconds, 0);
  client.set_read_timeout(kTimeoutSeconds, 0);
  LiveReport report;
  const httplib::Result result = client.Get("/status");
  if (!result) {
    report.problems.push_back("no answer from " + address + ": " +
                              httplib::to_string(result.error()));
  } else if (result->status == 401) {
    report.problems.push_back(address + " asks for credentials: access control is on "
                                        "(MetricsWebConfig); read /status with them");
  } else if (result->status != 200) {
    report.problems.push_back(
        StringFormat("%s answered /status with %d", address.c_str(), result->status));
  } else {
    report = ReadLiveStatus(result->body);
  }
  for (const std::string& line : report.lines) std::printf("%s\n", line.c_str());
  if (report.problems.empty()) {
    std::printf("\nNo problems found.\n");
    return 0;
  }
  std::printf("\n%zu problem%s:\n", report.problems.size(), report.problems.size() == 1 ? "" : "s");
  for (const std::string& problem : report.problems) std::printf("  - %s\n", problem.c_str());
  return 1;
}
