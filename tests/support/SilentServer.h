// Test helper: a TCP listener on 127.0.0.1 that never accepts, its backlog taken by a
// connection of its own, so that the kernel drops every further SYN and a client's connect
// hangs until the client gives up. The test thread owns the object.
#pragma once

#include <boost/asio.hpp>

class SilentServer {
 public:
  SilentServer() : acceptor_(io_), filler_(io_) {
    const boost::asio::ip::tcp::endpoint loopback(boost::asio::ip::make_address("127.0.0.1"), 0);
    acceptor_.open(loopback.protocol());
    acceptor_.bind(loopback);
    acceptor_.listen(0);  // room for one connection waiting to be accepted
    filler_.connect(acceptor_.local_endpoint());
  }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  int Port() const { return acceptor_.local_endpoint().port(); }

 private:
  boost::asio::io_context io_;
  boost::asio::ip::tcp::acceptor acceptor_;
  boost::asio::ip::tcp::socket filler_;
};
