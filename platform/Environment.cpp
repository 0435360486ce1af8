#include "platform/Environment.h"

#include <stdlib.h>

namespace platform {

std::string GetEnvironmentVariable(const std::string& name) {
  const char* value = ::getenv(name.c_str());
  return value != nullptr ? std::string(value) : std::string();
}

bool SetEnvironmentVariable(const std::string& name, const std::string& value) {
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

}  // namespace platform
