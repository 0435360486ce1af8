// Test helper: one raw HTTP exchange with a server on 127.0.0.1, in clear or over TLS: the
// request's bytes as given, then the answer's bytes until the server closes, all within one
// bound. The calling thread runs it.
#pragma once

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <optional>
#include <string>

namespace rawhttp {

namespace net = boost::asio;

template <class Stream>
void WriteThenReadToEnd(Stream& stream, const std::string& request, std::string* answer) {
  net::async_write(stream, net::buffer(request), [&stream, answer](auto ec, std::size_t) {
    if (!ec) net::async_read(stream, net::dynamic_buffer(*answer), [](auto, std::size_t) {});
  });
}

// "" when the connection is refused or closed before anything is answered.
inline std::string Exchange(int port, const std::string& request,
                            net::ssl::context* tls = nullptr) {
  net::io_context io;
  net::ip::tcp::socket socket(io);
  boost::system::error_code ec;
  socket.connect({net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)}, ec);
  if (ec) return "";
  std::string answer;
  std::optional<net::ssl::stream<net::ip::tcp::socket>> secure;
  if (tls != nullptr) {
    secure.emplace(std::move(socket), *tls);
    secure->async_handshake(net::ssl::stream_base::client, [&](auto handshakeError) {
      if (!handshakeError) WriteThenReadToEnd(*secure, request, &answer);
    });
  } else {
    WriteThenReadToEnd(socket, request, &answer);
  }
  io.run_for(std::chrono::seconds(10));
  return answer;
}

// A GET that asks the server to close after answering; extra is more header lines.
inline std::string Get(const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "Connection: close\r\n\r\n";
}

}  // namespace rawhttp
