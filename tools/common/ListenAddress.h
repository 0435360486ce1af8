// The listen address of a simulator: "IP:PORT" from its command line, and the listening
// socket opened on it (again after an outage, on the same port). Plain functions; the
// acceptor belongs to the caller's io thread.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <string>

namespace simtools {

// An IPv4 address and a port from 0 (any free port) to 65535.
bool ParseListenAddress(const std::string& text, std::string* ip, uint16_t* port);

// Opens, binds (address reuse on, so a port freed a moment ago binds again) and listens;
// on failure the acceptor is closed and *error says why.
bool OpenAcceptor(boost::asio::ip::tcp::acceptor& acceptor, const std::string& ip, uint16_t port,
                  std::string* error);

}  // namespace simtools
