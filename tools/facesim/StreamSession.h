// One WebSocket connection on a result stream of the simulated service: accepts the upgrade,
// reports the client's pings (the stream answers them itself) and messages, and sends the
// pushed results in order. Runs on the io thread only; owned by its pending operations
// (shared_from_this); the server keeps a weak reference from the handshake on.
#pragma once

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <memory>
#include <string>

namespace facesim {

class SimServer;

class StreamSession : public std::enable_shared_from_this<StreamSession> {
 public:
  StreamSession(boost::asio::ip::tcp::socket socket, SimServer& server, std::string path);
  StreamSession(const StreamSession&) = delete;
  StreamSession& operator=(const StreamSession&) = delete;

  void Start(boost::beast::http::request<boost::beast::http::string_body> request);
  // Queues a text message; false when the connection is not open.
  bool Send(std::shared_ptr<const std::string> message);
  // Closes the connection at once, without a close handshake.
  void Drop();
  const std::string& Path() const { return path_; }

 private:
  void OnAccept(boost::beast::error_code ec);
  void Read();
  void OnRead(boost::beast::error_code ec, std::size_t bytes);
  void Write();

  boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
  boost::beast::flat_buffer buffer_;
  SimServer& server_;
  const std::string path_;
  std::deque<std::shared_ptr<const std::string>> outgoing_;  // front is being written
  bool open_ = false;
};

}  // namespace facesim
