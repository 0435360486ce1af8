// One connection of the metrics listener: for TLS a handshake, then one request at a time,
// each read within the listener's bounds (header and body size, one deadline for the whole
// request and its answer) and answered by the router, until the client closes or asks to, or
// a bound is reached. A session lives in the handlers of its asynchronous operations, all on
// the listener's one I/O thread; it shares nothing with other threads.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

namespace metrics {

class MetricsRouter;

// A place among the listener's connections, given back when the session ends. The count
// belongs to the I/O thread and outlives every session.
class ConnectionSlot {
 public:
  explicit ConnectionSlot(int* active) : active_(active) { ++*active_; }
  ~ConnectionSlot() {
    if (active_ != nullptr) --*active_;
  }
  ConnectionSlot(ConnectionSlot&& other) noexcept : active_(other.active_) {
    other.active_ = nullptr;
  }
  ConnectionSlot(const ConnectionSlot&) = delete;
  ConnectionSlot& operator=(const ConnectionSlot&) = delete;
  ConnectionSlot& operator=(ConnectionSlot&&) = delete;

 private:
  int* active_;
};

// Start a session on an accepted socket; tls null: plain HTTP. router and tls outlive it.
void StartSession(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context* tls,
                  MetricsRouter& router, ConnectionSlot slot);

}  // namespace metrics
