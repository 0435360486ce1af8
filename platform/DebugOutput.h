// The debugger output channel: trace and error lines that do not go to the log.
// Writes one line to standard error, adding a newline when the text has none.
// Safe from any thread; lines from different threads never interleave.
#pragma once

#include <string>

namespace platform {

void DebugOutput(const std::string& text);

}  // namespace platform
