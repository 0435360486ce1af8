// Local-time conversions in the process's time zone. Any thread.
#pragma once

#include <ctime>

namespace platform {

// Breaks a time value down into local time; false when it cannot be represented.
bool ToLocalTime(std::time_t value, std::tm* out);
// Seconds since the epoch of the current moment (UTC based).
std::time_t Now();

}  // namespace platform
