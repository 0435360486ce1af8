#include "faceclient/EventStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "records/FaceSnapshot.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/support/WsTestServer.h"

namespace {

const char* const kRecognized = "fcsreconizedresult";
const char* const kUnrecognized = "fcsnonreconizedresult";
const std::string kRecognizedResource = "/fcsreconizedresult";
const std::string kUnrecognizedResource = "/fcsnonreconizedresult";

class RecordingSink : public VerifyResultSink {
 public:
  void PushVerifyResult(VerifyResult* result) override {
    std::lock_guard<std::mutex> guard(mutex_);
    results_.emplace_back(result);
  }
  std::vector<VerifyResult> Results() {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<VerifyResult> copy;
    for (auto& r : results_) copy.push_back(*r);
    return copy;
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<VerifyResult>> results_;
};

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::size_t ThreadCount() {
  std::size_t n = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task");
       it != std::filesystem::directory_iterator(); ++it) {
    ++n;
  }
  return n;
}

class EventStreamTest : public ::testing::Test {
 protected:
  explicit EventStreamTest(int periodMs = 200, int pongMs = 10000)
      : stopEvent_(true, false),
        stream_(kRecognized, kUnrecognized, &stopEvent_, &sink_, periodMs, pongMs) {}
  void Start(uint16_t port) { ASSERT_EQ(stream_.Start("127.0.0.1", port), 0); }
  bool BothOpen(WsTestServer& server) {
    return WaitFor([&] {
      return server.OpenConnections(kRecognizedResource) == 1 &&
             server.OpenConnections(kUnrecognizedResource) == 1 &&
             stream_.RecognizedStatus() == FRSWebSocketClient::Open &&
             stream_.UnrecognizedStatus() == FRSWebSocketClient::Open;
    });
  }

  LogCapture log_;
  platform::Event stopEvent_;
  RecordingSink sink_;
  EventStream stream_;
};

TEST_F(EventStreamTest, MessagesOfBothStreamsBecomeResults) {
  WsTestServer server;
  Start(server.Port());
  ASSERT_TRUE(BothOpen(server));
  server.Send(kRecognizedResource,
              R"({"verify_face_id":"v1","person_id":"p1","score":0.9,)"
              R"("person_info":{"fullname":"Ann","group_list":[{"groupname":"Employee"}]}})");
  ASSERT_TRUE(WaitFor([&] { return sink_.Results().size() == 1; }));
  server.Send(kUnrecognizedResource, R"({"verify_face_id":"v2","highest_score":{"fullname":""}})");
  // A message of the other kind, or not JSON at all, gives nothing on either stream.
  server.Send(kRecognizedResource, R"({"verify_face_id":"v3","highest_score":{"fullname":""}})");
  server.Send(kUnrecognizedResource, "garbage");
  ASSERT_TRUE(WaitFor([&] { return sink_.Results().size() == 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto results = sink_.Results();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].verifyId, "v1");
  EXPECT_EQ(results[0].groupId, kGroupEmployee);
  EXPECT_EQ(results[1].verifyId, "v2");
  EXPECT_EQ(results[1].groupId, kGroupNoMatch);
  EXPECT_EQ(log_.Count("On open connection", LogCapture::kInfo), 2);
  EXPECT_EQ(log_.Count("Open new thread for connection", LogCapture::kInfo), 2);
  // A message of 1 MiB is taken; one byte more is dropped, and the connection with it.
  const std::string head = R"({"verify_face_id":"max","highest_score":{"fullname":""},"x":")";
  const std::string atLimit = head + std::string((1u << 20) - head.size() - 2, ' ') + "\"}";
  server.Send(kUnrecognizedResource, atLimit);
  server.Send(kUnrecognizedResource, atLimit + " ");
  ASSERT_TRUE(WaitFor([&] { return log_.CountContaining("is back up") == 1; }));
  EXPECT_EQ(sink_.Results().back().verifyId, "max");
  EXPECT_EQ(log_.CountContaining("down: a message over 1048576 bytes was dropped"), 1);
}

TEST_F(EventStreamTest, AnOpenConnectionIsPingedWithHeartbeatEachTickAndSendsNothingElse) {
  WsTestServer server;
  Start(server.Port());
  ASSERT_TRUE(BothOpen(server));
  ASSERT_TRUE(WaitFor([&] {
    return server.Pings(kRecognizedResource).size() >= 3 &&
           server.Pings(kUnrecognizedResource).size() >= 3;
  }));
  for (const auto& resource : {kRecognizedResource, kUnrecognizedResource}) {
    for (const auto& payload : server.Pings(resource)) EXPECT_EQ(payload, "heartbeat");
    EXPECT_TRUE(server.Messages(resource).empty());
    EXPECT_EQ(server.Opens(resource), 1);  // no second attempt while open
  }
}

TEST_F(EventStreamTest, AClosedConnectionIsOpenedAgainAtTheNextTick) {
  WsTestServer server;
  Start(server.Port());
  ASSERT_TRUE(BothOpen(server));
  server.CloseAll("bye\r\n2026-12-08 ERROR Vestrel - FORGED");
  ASSERT_TRUE(WaitFor([&] {
    return server.Opens(kRecognizedResource) == 2 && server.Opens(kUnrecognizedResource) == 2 &&
           log_.CountContaining("is back up") == 2;
  }));
  EXPECT_GE(log_.Count("On close connection"), 2);
  EXPECT_GE(log_.Count("Exiting connection thread"), 2);
  // One ERROR line each way per connection; the service's reason stays inside its line.
  EXPECT_EQ(log_.CountContaining("is down: closed by the service (1000 bye\\r\\n2026-12-08"), 2);
}

// Heartbeats without pongs close each connection; it is opened again once pongs come back.
TEST(EventStreamStall, AConnectionWithoutPongsIsClosedAndOpenedAgain) {
  WsTestServer server;
  LogCapture log;
  platform::Event stop(true, false);
  EventStream stream(kRecognized, kUnrecognized, &stop, nullptr, 300, 100);
  ASSERT_EQ(stream.Start("127.0.0.1", server.Port()), 0);
  ASSERT_TRUE(WaitFor([&] { return server.OpenConnections(kRecognizedResource) == 1; }));
  server.StallPings(true);
  ASSERT_TRUE(WaitFor([&] { return log.CountContaining("down: no pong within 100 ms") >= 2; }));
  server.StallPings(false);
  ASSERT_TRUE(WaitFor([&] { return log.CountContaining("is back up") >= 2; }));
}

// wss:// with a certificate made now: trusted through the CA file, it is used; refused, no
// upgrade is sent, and each connection says why in one line however often it retries.
TEST(EventStreamTls, TheServiceCertificateAndAddressAreVerified) {
  const struct { const char* address; bool caFile; std::string refusal; } rows[] = {
      {"127.0.0.1", true, ""},
      {"127.0.0.1", false, "self-signed certificate"},
      {"127.0.0.2", true, "it names another host"}};
  for (const auto& row : rows) {
    TempDir dir;
    ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                           "-subj /CN=fs -addext subjectAltName=IP:" + std::string(row.address) +
                           " -keyout " + dir / "k" + " -out " + dir / "c" + " 2>/dev/null").c_str()),
              0);
    WssTestServer server(0, dir / "c", dir / "k");
    LogCapture log;
    platform::Event stop(true, false);
    EventStream stream(kRecognized, kUnrecognized, &stop, nullptr, 200);
    ASSERT_EQ(stream.Start("127.0.0.1", server.Port(), true, row.caFile ? dir / "c" : ""), 0);
    ASSERT_TRUE(WaitFor([&] {
      return row.refusal.empty() ? server.OpenConnections(kUnrecognizedResource) == 1
                                 : log.Count("On failed connection") >= 6;
    }));
    EXPECT_EQ(log.CountContaining("of 127.0.0.1 does not verify: " + row.refusal),
              row.refusal.empty() ? 0 : 2);
  }
}

TEST_F(EventStreamTest, AServerDownAtStartIsReachedOnceItIsUp) {
  uint16_t port;
  { port = WsTestServer().Port(); }  // a port where nothing listens now
  Start(port);
  // Each attempt fails, then its thread says it is leaving.
  ASSERT_TRUE(WaitFor([&] {
    return log_.Count("On failed connection") >= 4 && log_.Count("Exiting connection thread") >= 4;
  }));
  EXPECT_EQ(log_.Count("Exception at worker thread"), 0);
  WsTestServer server(port);
  ASSERT_TRUE(BothOpen(server));
  server.Send(kUnrecognizedResource, R"({"verify_face_id":"late","highest_score":{"fullname":""}})");
  ASSERT_TRUE(WaitFor([&] { return sink_.Results().size() == 1; }));
}

TEST_F(EventStreamTest, StoppingAConnectedStreamEndsEveryThreadAndClosesBothConnections) {
  const std::size_t before = ThreadCount();
  WsTestServer server;
  const std::size_t withServer = ThreadCount();
  Start(server.Port());
  ASSERT_TRUE(BothOpen(server));
  EXPECT_GE(ThreadCount(), withServer + 3);  // supervisor and two connection threads
  const auto started = std::chrono::steady_clock::now();
  stream_.Stop();
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(ThreadCount(), withServer);
  EXPECT_TRUE(WaitFor([&] {
    return server.OpenConnections(kRecognizedResource) == 0 &&
           server.OpenConnections(kUnrecognizedResource) == 0;
  }));
  EXPECT_EQ(log_.Count("Closing connection"), 2);
  RecordProperty("StopMs", static_cast<int>(
                               std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  (void)before;
}

TEST_F(EventStreamTest, StopWithNothingStartedOrTwiceIsHarmless) {
  stream_.Stop();
  stream_.Stop();
}

TEST(EventStreamUri, TheHostIsKeptToNinetyNineCharacters) {
  FRSWebSocketClient::WebSocketClient client(nullptr, "fcsreconizedresult");
  const std::string host99(99, 'h');
  client.SetServer(host99.c_str(), 80);
  EXPECT_EQ(client.Uri(), "ws://" + host99 + ":80/fcsreconizedresult");
  client.SetServer((host99 + "xyz").c_str(), 80);
  EXPECT_EQ(client.Uri(), "ws://" + host99 + ":80/fcsreconizedresult");
}

// The real period: the first ping comes about 15 s after the connections open.
class EventStreamRealPeriodTest : public EventStreamTest {
 protected:
  EventStreamRealPeriodTest() : EventStreamTest(EventStream::kTickPeriodMs) {}
};

TEST_F(EventStreamRealPeriodTest, TheFirstHeartbeatComesOnePeriodAfterTheOpen) {
  WsTestServer server;
  Start(server.Port());
  ASSERT_TRUE(BothOpen(server));
  const auto opened = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(5));
  EXPECT_TRUE(server.Pings(kRecognizedResource).empty());
  ASSERT_TRUE(WaitFor(
      [&] {
        return server.Pings(kRecognizedResource).size() == 1 &&
               server.Pings(kUnrecognizedResource).size() == 1;
      },
      20000));
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now() - opened)
                           .count();
  EXPECT_GE(seconds, 9);
  EXPECT_EQ(server.Pings(kRecognizedResource)[0], "heartbeat");
}

}  // namespace
