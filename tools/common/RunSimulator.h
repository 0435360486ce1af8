// The run of a simulator once it is set up, the same for every simulator: listen, run the
// script commands on their thread and the network on the calling (main) thread until quit,
// SIGTERM or SIGINT stops the io context, then stop the commands.
#pragma once

#include <boost/asio.hpp>
#include <csignal>
#include <string>

#include "tools/common/EventPrinter.h"

namespace simtools {

// Server has bool Listen(std::string* error), called before the io context runs; Runner has
// Start() and Stop(). Returns the exit status: 0, or 1 when the server cannot listen.
template <typename Server, typename Runner>
int RunSimulator(boost::asio::io_context& io, Server& server, Runner& runner,
                 EventPrinter& printer) {
  boost::asio::signal_set signals(io, SIGTERM, SIGINT);
  signals.async_wait([&io](const boost::system::error_code& ec, int) {
    if (!ec) io.stop();
  });
  std::string error;
  if (!server.Listen(&error)) {
    printer.Error(error);
    return 1;
  }
  runner.Start();
  io.run();
  runner.Stop();
  return 0;
}

}  // namespace simtools
