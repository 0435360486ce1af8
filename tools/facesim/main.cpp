// vestrel-facesim: one simulated face recognition service (see --help).
#include <boost/asio.hpp>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/common/EventPrinter.h"
#include "tools/common/RunSimulator.h"
#include "tools/facesim/FaceSimOptions.h"
#include "tools/facesim/Gallery.h"
#include "tools/facesim/ScriptRunner.h"
#include "tools/facesim/ServerTls.h"
#include "tools/facesim/ServiceMode.h"
#include "tools/facesim/SimServer.h"

int main(int argc, char** argv) {
  simtools::EventPrinter printer("vestrel-facesim");
  facesim::FaceSimOptions options;
  std::string error;
  if (!facesim::ParseFaceSimOptions(std::vector<std::string>(argv + 1, argv + argc), &options,
                                    &error)) {
    printer.Error(error + " (see --help)");
    return 2;
  }
  if (options.help) {
    std::cout << facesim::FaceSimUsage() << std::flush;
    return 0;
  }
  try {
    facesim::Gallery gallery;
    if (!options.peoplePath.empty() &&
        !gallery.Load(
            options.peoplePath, [&printer](const std::string& line) { printer.Error(line); },
            &error)) {
      printer.Error(error);
      return 2;
    }
    std::unique_ptr<boost::asio::ssl::context> tls;
    if (!options.tlsCertificate.empty()) {
      tls = facesim::MakeServerTls(options.tlsCertificate, options.tlsKey, &error);
      if (!tls) {
        printer.Error(error);
        return 2;
      }
    }
    const std::unique_ptr<facesim::ServiceMode> mode = facesim::MakeServiceMode(options, gallery);
    boost::asio::io_context io;
    facesim::SimServer server(io, options, *mode, printer, tls.get());
    facesim::ScriptRunner runner(server, printer, [&io] { io.stop(); });
    if (!options.scriptPath.empty() && !runner.LoadScript(options.scriptPath, &error)) {
      printer.Error(error);
      return 2;
    }
    return simtools::RunSimulator(io, server, runner, printer);
  } catch (const std::exception& e) {
    printer.Error(std::string("failed: ") + e.what());
    return 1;
  }
}
