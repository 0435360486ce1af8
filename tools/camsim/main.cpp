// vestrel-camsim: one simulated camera or NVR for the SDK library (see --help).
#include <boost/asio.hpp>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/camsim/CamSimOptions.h"
#include "tools/camsim/ScriptRunner.h"
#include "tools/camsim/SimDevice.h"
#include "tools/common/EventPrinter.h"
#include "tools/common/RunSimulator.h"

int main(int argc, char** argv) {
  simtools::EventPrinter printer("vestrel-camsim");
  camsim::CamSimOptions options;
  std::string error;
  if (!camsim::ParseCamSimOptions(std::vector<std::string>(argv + 1, argv + argc), &options,
                                  &error)) {
    printer.Error(error + " (see --help)");
    return 2;
  }
  if (options.help) {
    std::cout << camsim::CamSimUsage() << std::flush;
    return 0;
  }
  try {
    boost::asio::io_context io;
    camsim::SimDevice device(io, options, printer);
    camsim::ScriptRunner runner(device, [&io] { io.stop(); });
    if (!options.scriptPath.empty() && !runner.LoadScript(options.scriptPath, &error)) {
      printer.Error(error);
      return 1;
    }
    return simtools::RunSimulator(io, device, runner, printer);
  } catch (const std::exception& e) {
    printer.Error(std::string("failed: ") + e.what());
    return 1;
  }
}
