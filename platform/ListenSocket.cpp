#include "platform/ListenSocket.h"

#include <sys/socket.h>

namespace platform {

bool ReuseAddressOnly(int socketHandle) {
  const int yes = 1;
  return ::setsockopt(socketHandle, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0;
}

}  // namespace platform
