// The metrics listener of a real site, read by the real tools: a Prometheus server on loopback
// scrapes it every second while faces flow, promtool checks its exposition, and
// vestrel-check --live reads its status page with one camera offline.
#include <gtest/gtest.h>
#include <httplib.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "support/JsonObject.h"
#include "tests/e2e/E2eSite.h"

namespace e2e {
namespace {

const std::string kSmall = std::string(VESTREL_TEST_DATA_DIR) + "/face-small.jpg";
constexpr int kFaces = 12;
constexpr int kWaitMs = 30000;

int FreePort() {
  boost::asio::io_context io;
  return boost::asio::ip::tcp::acceptor(io, {boost::asio::ip::make_address("127.0.0.1"), 0})
      .local_endpoint()
      .port();
}

// Runs a program to its end; its exit status and standard output.
int RunToEnd(const std::string& program, const std::vector<std::string>& arguments,
             const TempDir& dir, std::string* output, const std::string& input = "") {
  platform::Subprocess child;
  platform::Subprocess::Options options;
  options.arguments = arguments;
  options.pipeStdin = true;
  options.stdoutPath = dir.File("run.out");
  options.stderrPath = dir.File("run.err");
  if (!child.Start(program, options)) return -1;
  child.WriteStdin(input);
  child.CloseStdin();
  if (!child.Wait(kWaitMs)) return -1;
  *output = ReadFileBytes(dir.File("run.out")) + ReadFileBytes(dir.File("run.err"));
  return child.ExitStatus();
}

// The value of a one-sample query in Prometheus's HTTP API; -1 when there is none.
double QueryValue(int port, const std::string& query) {
  httplib::Client client("127.0.0.1", port);
  const auto result = client.Get(("/api/v1/query?query=" + query).c_str());
  if (!result || result->status != 200) return -1;
  // {"status":"success","data":{"resultType":"vector","result":[{"metric":{..},"value":[t,"N"]}]}}
  neb::CJsonObject body(result->body), data, samples, sample, value;
  std::string number;
  if (!body.Get("data", data) || !data.Get("result", samples) || !samples.Get(0, sample) ||
      !sample.Get("value", value) || !value.Get(1, number)) {
    return -1;
  }
  return std::stod(number);
}

TEST(MetricsE2eTest, PrometheusSeesEveryEventFileAndTheCheckSeesTheOfflineCamera) {
  Camera camera;
  Site site;
  site.WriteSettings("MetricsListen=127.0.0.1:0\n");
  site.WriteDevInfo(
      {Site::Entry(camera, "1001"), {"127.0.0.1", FreePort(), "admin", "secret", "1002", true}});
  ASSERT_TRUE(site.StartVestrel());
  ASSERT_TRUE(site.WaitForLog("Metrics listener on 127.0.0.1:", kWaitMs)) << site.Log();
  const std::string log = site.Log();
  const int port = std::stoi(log.substr(log.find("Metrics listener on 127.0.0.1:") + 30));
  ASSERT_TRUE(camera.WaitForOutput("channel open", kWaitMs)) << site.Stderr();

  TempDir prometheusDir;
  const int prometheusPort = FreePort();
  prometheusDir.Write("prometheus.yml",
                      "global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
                      "scrape_configs:\n  - job_name: vestrel\n    static_configs:\n"
                      "      - targets: ['127.0.0.1:" +
                          std::to_string(port) + "']\n");
  platform::Subprocess prometheus;
  platform::Subprocess::Options options;
  options.arguments = {"--config.file=" + prometheusDir.File("prometheus.yml"),
                       "--storage.tsdb.path=" + prometheusDir.File("data"),
                       "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort)};
  options.stdoutPath = prometheusDir.File("prometheus.out");
  options.stderrPath = prometheusDir.File("prometheus.err");
  ASSERT_TRUE(prometheus.Start(VESTREL_PROMETHEUS_EXE, options));

  for (int id = 1; id <= kFaces; ++id) {
    ASSERT_TRUE(camera.Send("face id=" + std::to_string(id) + " jpeg=" + kSmall));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
  ASSERT_TRUE(site.WaitForEventFiles(kFaces, kWaitMs)) << site.Log();
  const double files = static_cast<double>(site.EventFiles().size());
  EXPECT_TRUE(WaitFor(
      [&] { return QueryValue(prometheusPort, "vestrel_events_written_total") == files; }, kWaitMs))
      << QueryValue(prometheusPort, "vestrel_events_written_total") << " "
      << ReadFileBytes(prometheusDir.File("prometheus.err"));

  std::string output;
  httplib::Client client("127.0.0.1", port);
  const auto exposition = client.Get("/metrics");
  ASSERT_TRUE(exposition);
  EXPECT_EQ(RunToEnd(VESTREL_PROMTOOL_EXE, {"check", "metrics"}, prometheusDir, &output,
                     exposition->body),
            0)
      << output;
  EXPECT_EQ(RunToEnd(VESTREL_CHECK_EXE, {"--live", "127.0.0.1:" + std::to_string(port)},
                     prometheusDir, &output),
            1);
  EXPECT_NE(output.find(camera.Ip() + ":" + std::to_string(camera.Port()) + " (POS 1001): online"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("(POS 1002): OFFLINE since"), std::string::npos) << output;
  EXPECT_NE(output.find(std::to_string(kFaces) + " written in the last hour"), std::string::npos)
      << output;

  prometheus.Terminate();
  EXPECT_TRUE(prometheus.Wait(kWaitMs));
  EXPECT_EQ(site.StopVestrel(), 0);
}

}  // namespace
}  // namespace e2e
