// Where the running executable really is (links resolved). Any thread.
#pragma once

#include <string>

namespace platform {

// Full path of the running executable, or "" when it cannot be found.
std::string ModuleFileName();

}  // namespace platform
