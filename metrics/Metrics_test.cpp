#include "metrics/Metrics.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include "metrics/MetricsListener.h"
#include "metrics/MinuteWindow.h"
#include "metrics/SiteMetrics.h"
#include "metrics/StatusPage.h"
#include "records/LoginError.h"
#include "support/JsonObject.h"

namespace metrics {
namespace {

TEST(MetricsTest, GroupIdsCountUnderTheirOutcome) {
  const struct {
    int32_t groupId;
    const char* outcome;
  } rows[] = {{1, "identified"}, {3, "identified"},  {-1, "no_match"},   {-2, "no_group"},
              {0, "no_group"},   {-3, "unanswered"}, {-9, "unanswered"}, {-4, "unreadable"}};
  for (const auto& row : rows) {
    EXPECT_STREQ(OutcomeName(OutcomeOfGroup(row.groupId)), row.outcome) << row.groupId;
  }
  FaceDone(-3, SteadyNowNs());
  const std::string text = SiteMetrics::Get().Exposition();
  EXPECT_NE(text.find("vestrel_face_requests_total{outcome=\"unanswered\"} "), std::string::npos);
  EXPECT_NE(text.find("vestrel_face_request_duration_seconds_bucket{le=\"10\"} 1"),
            std::string::npos);
}

TEST(MetricsTest, MinuteWindowSumsOnlyTheMinutesAsked) {
  MinuteWindow window;
  window.Add(1000 - MinuteWindow::kMinutes);  // the slot of minute 1000, an hour before it
  window.Add(1000);
  window.Add(1000);
  window.Add(996);
  EXPECT_EQ(window.Sum(1000, 1), 2u);
  EXPECT_EQ(window.Sum(1000, 5), 3u);
  EXPECT_EQ(window.Sum(1000 + MinuteWindow::kMinutes, MinuteWindow::kMinutes), 0u);
}

TEST(MetricsTest, StatusIsValidJsonWhateverThePeerWrote) {
  const std::string pos = "a\"b\\c\n\x01\xff\xc3";
  RegisterDevice("127.9.9.9", 8000, pos);
  DeviceLogin("127.9.9.9", 8000, false, kLoginUnreachable);
  EventWriteFailed("disk \"full\"\r\n\xe2\x82");
  const neb::CJsonObject status(StatusJson(SiteMetrics::Get()));
  neb::CJsonObject devices, device, events, error;
  ASSERT_TRUE(status.Get("devices", devices)) << status.GetErrMsg();
  ASSERT_TRUE(devices.Get(devices.GetArraySize() - 1, device));
  std::string text;
  device.Get("pos", text);
  EXPECT_EQ(text, "a\"b\\c\n\x01\xef\xbf\xbd\xef\xbf\xbd");
  ASSERT_TRUE(device.Get("last_error", error));
  error.Get("text", text);
  EXPECT_EQ(text, "cannot be reached (error 7)");
  ASSERT_TRUE(status.Get("events", events) && events.Get("last_error", error));
  error.Get("text", text);
  EXPECT_EQ(text, "disk \"full\"\r\n\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(MetricsTest, ListenAddressMustBeIpColonPort) {
  const struct {
    const char* text;
    bool ok;
    int port;
  } rows[] = {{"127.0.0.1:9561", true, 9561},
              {"0.0.0.0:0", true, 0},
              {"127.0.0.1", false, 0},
              {":9561", false, 0},
              {"127.0.0.1:", false, 0},
              {"h:65536", false, 0},
              {"h:12x", false, 0},
              {"h:-1", false, 0}};
  for (const auto& row : rows) {
    std::string ip;
    int port = -1;
    EXPECT_EQ(ParseListenAddress(row.text, &ip, &port), row.ok) << row.text;
    if (row.ok) {
      EXPECT_EQ(port, row.port) << row.text;
    }
  }
}

TEST(MetricsTest, ListenerAnswersGetOfItsTwoPathsOnly) {
  MetricsListener listener;
  ASSERT_TRUE(listener.Start("127.0.0.1:0"));
  httplib::Client client("127.0.0.1", listener.Port());
  const struct {
    const char* method;
    const char* path;
    int status;
  } rows[] = {{"GET", "/metrics", 200},  {"GET", "/status", 200},   {"GET", "/", 404},
              {"GET", "/metricsx", 404}, {"POST", "/metrics", 405}, {"DELETE", "/status", 405}};
  for (const auto& row : rows) {
    const httplib::Result result = std::string(row.method) == "GET" ? client.Get(row.path)
                                   : std::string(row.method) == "POST"
                                       ? client.Post(row.path, "x", "text/plain")
                                       : client.Delete(row.path);
    ASSERT_TRUE(result) << row.method << " " << row.path;
    EXPECT_EQ(result->status, row.status) << row.method << " " << row.path;
  }
  // The port is taken now: a second listener cannot start, and says so.
  MetricsListener second;
  EXPECT_FALSE(second.Start("127.0.0.1:" + std::to_string(listener.Port())));
}

}  // namespace
}  // namespace metrics
