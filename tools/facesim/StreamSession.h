// One WebSocket connection on a result stream of the simulated service, plain (ws) or over TLS
// (wss): accepts the upgrade, reports the client's pings (the stream answers them itself) and
// messages, and sends the pushed results in order. A stalled stream reads nothing more, so it
// answers no ping and sends nothing, but keeps its TCP connection open. Runs on the io thread
// only; owned by its pending operations, and by the server once stalled; the server keeps a
// weak reference from the handshake on.
#pragma once

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <memory>
#include <string>

namespace facesim {

class SimServer;

using PlainStream = boost::beast::tcp_stream;
using TlsStream = boost::beast::ssl_stream<boost::beast::tcp_stream>;
using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;

class StreamSession {
 public:
  explicit StreamSession(std::string path) : path_(std::move(path)) {}
  virtual ~StreamSession() = default;
  StreamSession(const StreamSession&) = delete;
  StreamSession& operator=(const StreamSession&) = delete;

  // Queues a text message; false when the connection is not open.
  virtual bool Send(std::shared_ptr<const std::string> message) = 0;
  // Closes the connection at once, without a close handshake.
  virtual void Drop() = 0;
  // Stops reading and sending for good; false when the connection was not open.
  virtual bool Stall() = 0;
  const std::string& Path() const { return path_; }

 private:
  const std::string path_;
};

// Takes over the connection (PlainStream or TlsStream, handshake done) that carried the
// upgrade request, and accepts it.
template <typename Stream>
void StartStreamSession(Stream stream, SimServer& server, const std::string& path,
                        HttpRequest request);

}  // namespace facesim
