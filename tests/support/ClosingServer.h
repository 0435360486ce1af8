// Test helper: a TCP listener on 127.0.0.1 that accepts connections, reads what arrives and
// closes each connection without an answer after the first bytes come in, so that a client
// sees a connection closed in the middle of its request. One thread of its own runs the
// asio loop; the test thread owns the object.
#pragma once

#include <boost/asio.hpp>

#include <array>
#include <memory>
#include <thread>

class ClosingServer {
 public:
  ClosingServer() : acceptor_(io_, {boost::asio::ip::make_address("127.0.0.1"), 0}) {
    Accept();
    thread_ = std::thread([this] { io_.run(); });
  }
  ~ClosingServer() {
    io_.stop();
    if (thread_.joinable()) thread_.join();
  }
  ClosingServer(const ClosingServer&) = delete;
  ClosingServer& operator=(const ClosingServer&) = delete;

  int Port() const { return acceptor_.local_endpoint().port(); }

 private:
  void Accept() {
    acceptor_.async_accept([this](boost::system::error_code ec, boost::asio::ip::tcp::socket s) {
      if (ec) return;
      auto socket = std::make_shared<boost::asio::ip::tcp::socket>(std::move(s));
      auto buffer = std::make_shared<std::array<char, 4096>>();
      socket->async_read_some(boost::asio::buffer(*buffer),
                              [socket, buffer](boost::system::error_code, std::size_t) {
                                boost::system::error_code ignored;
                                socket->close(ignored);
                              });
      Accept();
    });
  }

  boost::asio::io_context io_;
  boost::asio::ip::tcp::acceptor acceptor_;
  std::thread thread_;
};
