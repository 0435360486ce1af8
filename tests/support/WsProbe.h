// Test helper: a WebSocket client on one result stream of a simulated face service, built on
// WebSocket++ like the FRS event stream, so that the tests also show the two libraries talk.
// It connects, collects the text it receives, pings, and closes. The client's io loop runs on
// a thread of the probe; the test thread calls the methods. mutex_ guards the state below it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace simtest {

class WsProbe {
 public:
  WsProbe();
  // Closes the connection and ends the thread, within a bound.
  ~WsProbe();
  WsProbe(const WsProbe&) = delete;
  WsProbe& operator=(const WsProbe&) = delete;

  // Connects to ws://ip:port/path (one attempt per probe) and waits for the opening handshake;
  // true when the connection is open.
  bool Connect(const std::string& ip, int port, const std::string& path,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // The oldest message not yet taken; false when none comes within the time.
  bool NextMessage(std::string* message, std::chrono::milliseconds timeout);
  bool Ping(const std::string& payload);
  // Starts the closing handshake.
  void Close();
  // True once the connection has closed or failed.
  bool WaitEnded(std::chrono::milliseconds timeout);
  // The HTTP status of the server's answer to the upgrade (101 when it was accepted).
  int ResponseCode();

 private:
  struct Endpoint;  // the WebSocket++ client, kept out of this header

  std::unique_ptr<Endpoint> endpoint_;
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  bool ended_ = false;
  int responseCode_ = 0;
  std::deque<std::string> messages_;
};

}  // namespace simtest
