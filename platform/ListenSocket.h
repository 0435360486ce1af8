// Options of a listening TCP socket made by a server library. Any thread.
#pragma once

namespace platform {

// Lets the socket bind an address that a closed connection still holds (TIME_WAIT), and
// nothing more: a port that another socket listens on stays refused. Returns false when the
// option cannot be set. socketHandle is the library's socket handle.
bool ReuseAddressOnly(int socketHandle);

}  // namespace platform
