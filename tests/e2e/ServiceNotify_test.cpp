// Vestrel under a stand-in service manager: the notification socket that systemd would pass in
// NOTIFY_SOCKET, with a watchdog time-out in WATCHDOG_USEC. Vestrel must say READY=1 once its
// start-up is done, WATCHDOG=1 regularly while its main loop runs, STOPPING=1 when it stops.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/datagram_protocol.hpp>
#include <chrono>

#include "tests/e2e/E2eSite.h"

namespace e2e {
namespace {

class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : socket_(io_) {
    socket_.open();
    socket_.bind(boost::asio::local::datagram_protocol::endpoint(path));
    socket_.non_blocking(true);
  }
  // The next datagram, or "" when none came within timeoutMs.
  std::string Receive(int timeoutMs) {
    std::string message;
    WaitFor(
        [&] {
          char buffer[512];
          boost::system::error_code ec;
          const std::size_t n = socket_.receive(boost::asio::buffer(buffer), 0, ec);
          if (ec) return false;
          message.assign(buffer, n);
          return true;
        },
        timeoutMs);
    return message;
  }
  // Receives until a datagram holds the text; false after timeoutMs.
  bool WaitForMessage(const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Receive(100).find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  boost::asio::io_context io_;
  boost::asio::local::datagram_protocol::socket socket_;
};

TEST(ServiceNotifyTest, ReadyThenWatchdogTicksThenStopping) {
  Site site;
  site.WriteSettings();
  site.WriteDevInfo({{"127.0.0.1", 1, "u", "p", "1", true}});  // nothing listens: login fails
  const std::string socketPath = site.Root().File("notify.sock");
  NotifySocket manager(socketPath);
  ASSERT_TRUE(site.StartVestrel({}, {{"NOTIFY_SOCKET", socketPath}, {"WATCHDOG_USEC", "400000"}}));
  EXPECT_EQ(manager.Receive(15000), "READY=1") << site.Stderr();
  EXPECT_NE(site.Log().find("Initializing @2..."), std::string::npos);  // start-up went first
  for (int tick = 0; tick < 3; ++tick) {
    EXPECT_EQ(manager.Receive(5000), "WATCHDOG=1") << "tick " << tick;
  }
  site.Vestrel().Terminate();
  EXPECT_TRUE(manager.WaitForMessage("STOPPING=1", 10000));
  // The one SIGTERM ends it; a second one would end it at once, whatever the teardown does.
  ASSERT_TRUE(site.Vestrel().Wait(20000));
  EXPECT_EQ(site.Vestrel().ExitStatus(), 0);
  EXPECT_NE(site.Log().find("Stop reason: signal SIGTERM\n"), std::string::npos) << site.Log();
}

TEST(ServiceNotifyTest, NoWatchdogTicksWhenNoneIsExpected) {
  Site site;
  site.WriteSettings();
  site.WriteDevInfo({{"127.0.0.1", 1, "u", "p", "1", true}});
  const std::string socketPath = site.Root().File("notify.sock");
  NotifySocket manager(socketPath);
  ASSERT_TRUE(site.StartVestrel({}, {{"NOTIFY_SOCKET", socketPath}}));
  EXPECT_EQ(manager.Receive(15000), "READY=1");
  EXPECT_EQ(manager.Receive(1500), "");
  EXPECT_EQ(site.StopVestrel(), 0);
  EXPECT_EQ(manager.Receive(5000), "STOPPING=1");
}

}  // namespace
}  // namespace e2e
