#include "metrics/Metrics.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

#include "metrics/MetricsListener.h"
#include "metrics/MinuteWindow.h"
#include "metrics/SiteMetrics.h"
#include "metrics/StatusPage.h"
#include "metrics/WebConfig.h"
#include "records/LoginError.h"
#include "support/Base64.h"
#include "support/JsonObject.h"
#include "tests/support/RawHttp.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificate.h"

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
  EXPECT_EQ(text, "disk \"full\"\r\n\xef\xbf\xbd");  // a broken sequence is one U+FFFD
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

// bcrypt (cost 5) of "scrape-pw".
const std::string kHash = "$2b$05$2vN7eY/HKlUO5xwznaD4qOtkWt3VwWkefpHfSxvFMtyWGpaktIaku";

bool Answered(const std::string& answer, const std::string& status) {
  return answer.rfind("HTTP/1.1 " + status, 0) == 0;
}

TEST(MetricsTest, ListenerRefusesLongHeadersAndConnectionsBeyondItsLimit) {
  MetricsListener listener;
  ASSERT_TRUE(listener.Start("127.0.0.1:0"));
  const int port = listener.Port();
  const std::string longHeader = "X-Long: " + std::string(MetricsListener::kMaxHeaderBytes, 'a');
  EXPECT_TRUE(
      Answered(rawhttp::Exchange(port, rawhttp::Get("/metrics", longHeader + "\r\n")), "431"));
  // Idle connections take every place (accepted in order, so before the next one).
  boost::asio::io_context io;
  std::vector<boost::asio::ip::tcp::socket> idle;
  for (int i = 0; i < MetricsListener::kMaxConnections; ++i) {
    idle.emplace_back(io).connect(
        {boost::asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
  }
  EXPECT_EQ(rawhttp::Exchange(port, rawhttp::Get("/metrics")), "");
  idle.back().close();  // frees a place well before the idle ones' deadline
  std::string answer;
  for (int attempt = 0; attempt < 30 && answer.empty(); ++attempt) {
    answer = rawhttp::Exchange(port, rawhttp::Get("/metrics"));
    if (answer.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(Answered(answer, "200")) << answer;
}

TEST(MetricsTest, WebConfigReadsItsSmallFormAndRefusesAnythingElse) {
  const struct {
    std::string text;
    bool ok;
  } rows[] = {
      {"# scrapers\nbasic_auth_users:\n  a: " + kHash + "\n  'b c': \"" + kHash + "\"\n", true},
      {"tls_server_config:\n    cert_file: c.pem  # chain\n    key_file: /k.pem\n", true},
      {"", false},
      {"basic_auth_users:\n", false},
      {"tls_server_config:\n  cert_file: c.pem\n", false},
      {"tls_server_config:\n  cert_file: c\n  key_file: k\n  client_auth_type: x\n", false},
      {"http_server_config:\n  http2: false\n", false},
      {"basic_auth_users:\n  a: secret\n", false},
      {"basic_auth_users: {a: " + kHash + "}\n", false},
      {"basic_auth_users:\n\ta: " + kHash + "\n", false},
      {"basic_auth_users:\n  a: " + kHash + "\n    b: " + kHash + "\n", false},
      {"basic_auth_users:\n  a: " + kHash + "\n  a: " + kHash + "\n", false},
  };
  for (const auto& row : rows) {
    WebConfig config;
    std::string error;
    EXPECT_EQ(ParseWebConfig(row.text, "/etc/v/", &config, &error), row.ok) << row.text << error;
    if (row.ok && config.Tls()) {
      EXPECT_EQ(config.certFile + " " + config.keyFile, "/etc/v/c.pem /k.pem");
    }
  }
}

TEST(MetricsTest, WebConfigServesOnlyOverTlsAndOnlyWithTheRightPassword) {
  TempDir dir;
  const TestCertificate certificate(dir.Path(), "IP:127.0.0.1");
  const std::string web = dir.Write("web.yml",
                                    "tls_server_config:\n  cert_file: cert.pem\n  key_file: "
                                    "key.pem\nbasic_auth_users:\n  scraper: " +
                                        kHash + "\n");
  MetricsListener listener;
  EXPECT_FALSE(listener.Start("127.0.0.1:0", dir.File("missing.yml")));
  ASSERT_TRUE(listener.Start("127.0.0.1:0", web));
  boost::asio::ssl::context tls(boost::asio::ssl::context::tls_client);
  tls.load_verify_file(certificate.certPath);
  tls.set_verify_mode(boost::asio::ssl::verify_peer);
  const struct {
    std::string credentials;  // "" for none
    const char* status;
  } rows[] = {{"", "401"},
              {"scraper:wrong", "401"},
              {"nobody:scrape-pw", "401"},
              {"scraper:scrape-pw", "200"},
              {"scraper:scrape-pw", "200"}};
  for (const auto& row : rows) {
    const std::string header =
        row.credentials.empty()
            ? ""
            : "Authorization: Basic " +
                  Base64Encode(reinterpret_cast<const unsigned char*>(row.credentials.data()),
                               static_cast<int>(row.credentials.size())) +
                  "\r\n";
    const std::string answer =
        rawhttp::Exchange(listener.Port(), rawhttp::Get("/metrics", header), &tls);
    EXPECT_TRUE(Answered(answer, row.status)) << row.credentials << "\n" << answer;
    if (std::string(row.status) == "401") {
      EXPECT_NE(answer.find("WWW-Authenticate: Basic realm="), std::string::npos) << answer;
    }
  }
  EXPECT_FALSE(Answered(rawhttp::Exchange(listener.Port(), rawhttp::Get("/metrics")), ""));
}

}  // namespace
}  // namespace metrics
