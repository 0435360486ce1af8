// Whether a TCP service answers at an address: one connection attempt, closed again at once
// without a byte sent. Used by the site check to tell an unreachable face service from a
// reachable one. Stateless; any thread.
#pragma once

#include <string>

namespace platform {

// True when a connection to host:port is accepted within timeoutMs; otherwise false with the
// reason in *error (refused, no route, name not found, time-out).
bool ProbeTcpConnect(const std::string& host, int port, int timeoutMs, std::string* error);

}  // namespace platform
