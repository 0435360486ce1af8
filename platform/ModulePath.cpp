#include "platform/ModulePath.h"

#include <limits.h>
#include <stdlib.h>

namespace platform {

std::string ModuleFileName() {
  char resolved[PATH_MAX];
  if (::realpath("/proc/self/exe", resolved) == nullptr) return std::string();
  return std::string(resolved);
}

}  // namespace platform
