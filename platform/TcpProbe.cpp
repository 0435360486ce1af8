#include "platform/TcpProbe.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "platform/FileStatus.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

class AddressList {
 public:
  AddressList() = default;
  ~AddressList() {
    if (list_ != nullptr) ::freeaddrinfo(list_);
  }
  AddressList(const AddressList&) = delete;
  AddressList& operator=(const AddressList&) = delete;

  // 0 or the resolver's error code.
  int Resolve(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    return ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list_);
  }
  const addrinfo* First() const { return list_; }

 private:
  addrinfo* list_ = nullptr;
};

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int Fd() const { return fd_; }

 private:
  const int fd_;
};

// 0 when connected, else the errno of the failure (ETIMEDOUT when the time ran out).
int ConnectOne(const addrinfo* address, Clock::time_point deadline) {
  Socket socket(::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                         address->ai_protocol));
  if (socket.Fd() < 0) return errno;
  if (::connect(socket.Fd(), address->ai_addr, address->ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return ETIMEDOUT;
    pollfd pfd{socket.Fd(), POLLOUT, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return errno;
    if (ready == 0) return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket.Fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
  }
}

}  // namespace

bool ProbeTcpConnect(const std::string& host, int port, int timeoutMs, std::string* error) {
  if (port <= 0 || port > 65535) {
    if (error != nullptr) *error = "port " + std::to_string(port) + " is out of range";
    return false;
  }
  AddressList addresses;
  const int resolved = addresses.Resolve(host, port);
  if (resolved != 0) {
    if (error != nullptr) *error = std::string("address not found: ") + ::gai_strerror(resolved);
    return false;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int code = ENOENT;
  for (const addrinfo* a = addresses.First(); a != nullptr; a = a->ai_next) {
    code = ConnectOne(a, deadline);
    if (code == 0) return true;
    if (code == ETIMEDOUT) break;
  }
  if (error != nullptr) {
    *error = code == ETIMEDOUT ? "no answer within " + std::to_string(timeoutMs) + " ms"
                               : ErrorMessage(code);
  }
  return false;
}

}  // namespace platform
