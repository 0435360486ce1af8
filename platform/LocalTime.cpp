#include "platform/LocalTime.h"

#include <time.h>

namespace platform {

bool ToLocalTime(std::time_t value, std::tm* out) {
  if (out == nullptr) return false;
  return ::localtime_r(&value, out) != nullptr;
}

std::time_t Now() { return std::time(nullptr); }

}  // namespace platform
