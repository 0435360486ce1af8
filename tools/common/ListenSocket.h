// The listening socket of a simulator: its address "IP:PORT" from the command line, the
// socket opened on it (again after an outage, on the same port), and the loop that accepts
// connections on it. Plain functions; the acceptor and its handlers belong to the caller's
// io thread.
#pragma once

#include <boost/asio.hpp>
#include <cstdint>
#include <functional>
#include <string>

#include "tools/common/EventPrinter.h"

namespace simtools {

// An IPv4 address and a port from 0 (any free port) to 65535.
bool ParseListenAddress(const std::string& text, std::string* ip, uint16_t* port);

// Opens, binds (address reuse on, so a port freed a moment ago binds again) and listens;
// on failure the acceptor is closed and *error says why.
bool OpenAcceptor(boost::asio::ip::tcp::acceptor& acceptor, const std::string& ip, uint16_t port,
                  std::string* error);

// The first listen of a simulator: opens the socket on ip and *port (0: any free port), sets
// *port to the port it got, and prints "listening IP:PORT".
bool StartListening(boost::asio::ip::tcp::acceptor& acceptor, const std::string& ip, uint16_t* port,
                    EventPrinter& printer, std::string* error);

// Accepts connections until the acceptor is closed, handing each one to onAccept. A failed
// accept (out of descriptors and the like) is reported and tried again after 200 ms rather
// than in a busy loop.
void AcceptConnections(boost::asio::ip::tcp::acceptor& acceptor, EventPrinter& printer,
                       std::function<void(boost::asio::ip::tcp::socket)> onAccept);

}  // namespace simtools
