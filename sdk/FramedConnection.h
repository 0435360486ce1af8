// One TCP connection that speaks frames: reads whole frames within the size limits of its
// direction, queues frames for sending, and closes on the first bad frame or error.
// All socket work and every handler run on the io_context's thread (one thread runs it);
// AsyncConnect, Start, Send and Close may be called from any thread. No lock: state is
// touched only on the io thread.
#pragma once

#include <boost/asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sdk/WireProtocol.h"

namespace sdkwire {

// Why a connection closed.
enum class CloseCause { Local, PeerClosed, NetworkError, BadFrame };

class FramedConnection : public std::enable_shared_from_this<FramedConnection> {
 public:
  struct Handlers {
    // A frame that passed the header checks. A frame of another protocol version arrives
    // with its header and no payload, and reading stops: the handler answers or closes.
    std::function<void(const FrameHeader& header, std::vector<uint8_t> payload)> onFrame;
    // Called once, when the connection has closed for any reason.
    std::function<void(CloseCause cause, const std::string& reason)> onClosed;
  };

  // Frames received are checked as travelling in the direction given.
  FramedConnection(boost::asio::io_context& io, Direction incoming);
  FramedConnection(boost::asio::ip::tcp::socket socket, Direction incoming);
  FramedConnection(const FramedConnection&) = delete;
  FramedConnection& operator=(const FramedConnection&) = delete;

  // Connects within the time given; done(error) runs on the io thread (operation_aborted or
  // timed_out when the time ran out or Close came first).
  void AsyncConnect(const boost::asio::ip::tcp::endpoint& endpoint,
                    std::chrono::milliseconds timeout,
                    std::function<void(const boost::system::error_code&)> done);
  void Start(Handlers handlers);
  // Queues a whole frame (see MakeFrame). With closeAfter the connection closes once it is
  // written, or after kLinger at the latest. A peer that lets more than kMaxQueuedBytes pile
  // up is dropped.
  void Send(std::vector<uint8_t> frame, bool closeAfter = false);
  void Close(const std::string& reason, CloseCause cause = CloseCause::Local);

  static constexpr size_t kMaxQueuedBytes = 64 * 1024 * 1024;
  static constexpr std::chrono::seconds kLinger{2};

 private:
  void ReadHeader();
  void ReadPayload();
  void WriteNext();
  void CloseNow(CloseCause cause, const std::string& reason);

  boost::asio::ip::tcp::socket socket_;
  boost::asio::steady_timer connectTimer_;  // the connect time-out, later the linger time
  const Direction incoming_;

  // io thread only.
  Handlers handlers_;
  bool started_ = false;
  bool closed_ = false;
  bool closeAfterWrite_ = false;
  bool writing_ = false;
  uint8_t headerBytes_[kHeaderSize] = {};
  FrameHeader header_;
  std::vector<uint8_t> payload_;
  std::deque<std::vector<uint8_t>> sendQueue_;
  size_t queuedBytes_ = 0;
};

}  // namespace sdkwire
