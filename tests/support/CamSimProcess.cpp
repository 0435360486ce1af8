// Built into the test binaries that define VESTREL_CAMSIM_EXE.
#include "tests/support/CamSimProcess.h"

namespace sdktest {

CamSimProcess::CamSimProcess(const std::string& ip, const std::vector<std::string>& args,
                             bool listen)
    : SimulatorProcess(VESTREL_CAMSIM_EXE, ip, args, listen) {}

}  // namespace sdktest
