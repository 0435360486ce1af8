// One HTTP connection to the simulated service, plain or HTTPS: reads requests one after
// another (keep-alive as the client asks), makes each wait for a free worker of the service
// and for the service's latency, has the service answer it, applies the fault armed for the
// endpoint, and hands the connection over to a stream session on a WebSocket upgrade (which
// waits for neither). Runs on the io thread only; owned by its pending operations.
#pragma once

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <memory>

namespace facesim {

class SimServer;

class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // Closes the connection at once, abandoning an answer that waits, is held back or drips.
  virtual void Drop() = 0;
};

// Serves a connection just accepted: over TLS, after the handshake, when tls is not null.
std::shared_ptr<HttpSession> StartHttpSession(boost::asio::ip::tcp::socket socket,
                                              SimServer& server, boost::asio::ssl::context* tls);

}  // namespace facesim
