// One client connection to the simulated device: login, channel table, online checks and
// the alarm channel. Everything runs on the io thread; no lock.
#pragma once

#include <boost/asio.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sdk/FramedConnection.h"
#include "sdk/WireMessages.h"

namespace camsim {

class SimDevice;

class CamSession : public std::enable_shared_from_this<CamSession> {
 public:
  CamSession(boost::asio::io_context& io, boost::asio::ip::tcp::socket socket, SimDevice& device);
  CamSession(const CamSession&) = delete;
  CamSession& operator=(const CamSession&) = delete;

  void Start();
  // Sends an alarm when this session holds an open channel.
  // False when the session has no open alarm channel (nothing is sent then).
  bool SendAlarm(uint32_t command, const std::vector<uint8_t>& body);
  void Drop(const std::string& reason);

 private:
  void OnFrame(const sdkwire::FrameHeader& header, std::vector<uint8_t> payload);
  void OnLogin(uint32_t sequence, const std::vector<uint8_t>& body);
  void OnClosed(sdkwire::CloseCause cause, const std::string& reason);
  void Send(sdkwire::FrameType type, const std::vector<uint8_t>& payload, bool closeAfter = false);
  void Reply(sdkwire::FrameType type, uint32_t sequence, const std::vector<uint8_t>& body,
             bool closeAfter = false);
  void Violation(const std::string& what);

  SimDevice& device_;
  const std::string peer_;
  const std::shared_ptr<sdkwire::FramedConnection> connection_;
  boost::asio::steady_timer loginTimer_;
  bool loggedIn_ = false;
  bool ended_ = false;
  std::string user_;
  bool channelOpen_ = false;
  uint32_t channel_ = 0;
};

}  // namespace camsim
