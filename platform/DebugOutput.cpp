#include "platform/DebugOutput.h"

#include <errno.h>
#include <unistd.h>

#include <mutex>

namespace platform {

namespace {
std::mutex g_outputMutex;  // one line at a time on fd 2
}  // namespace

void DebugOutput(const std::string& text) {
  std::string line = text;
  if (line.empty() || line.back() != '\n') line.push_back('\n');
  std::lock_guard<std::mutex> guard(g_outputMutex);
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere to report a broken stderr
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace platform
