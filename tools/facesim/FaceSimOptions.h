// The face-service simulator's command line: what it is, how to parse it, and the help text.
// Plain data and functions: any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace facesim {

enum class Mode { Frs, Fcs, FrsV2 };

struct FaceSimOptions {
  Mode mode = Mode::Frs;
  std::string listenIp;
  uint16_t listenPort = 0;  // 0: any free port, reported on the "listening" line
  std::string user = "admin";
  std::string password = "admin";
  std::string account = "demo";
  std::string accessKey = "demo-key";
  std::string peoplePath;
  std::string scriptPath;
  double latencySeconds = 0;  // added to every answer to the picture endpoint
  int concurrency = 0;        // requests served at once; 0: no limit
  std::string tlsCertificate;  // PEM files; both empty: plain HTTP and WebSocket
  std::string tlsKey;
  bool help = false;
};

// Fills *options from the arguments (without the program name); false with *error set on
// a bad argument.
bool ParseFaceSimOptions(const std::vector<std::string>& args, FaceSimOptions* options,
                         std::string* error);
const char* FaceSimUsage();

}  // namespace facesim
