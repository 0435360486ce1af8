// Test helper: one vestrel-camsim child process (see SimulatorProcess). Used by one test
// thread.
#pragma once

#include <string>
#include <vector>

#include "tests/support/SimulatorProcess.h"

namespace sdktest {

using simtest::TestData;

class CamSimProcess : public simtest::SimulatorProcess {
 public:
  // Starts camsim listening on ip, port picked by camsim, with the extra arguments, and
  // waits for its "listening" line. With listen false the arguments are passed as they are.
  CamSimProcess(const std::string& ip, const std::vector<std::string>& args, bool listen = true);
};

}  // namespace sdktest
