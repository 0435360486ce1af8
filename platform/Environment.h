// Process environment variables. Setting is meant for start-up, before other threads read
// the environment; reading is safe from any thread.
#pragma once

#include <string>

namespace platform {

// The variable's value, or "" when unset.
std::string GetEnvironmentVariable(const std::string& name);
// Sets (replaces) the variable; false when the system refuses.
bool SetEnvironmentVariable(const std::string& name, const std::string& value);

}  // namespace platform
