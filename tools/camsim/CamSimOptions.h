// The simulator's command line: what it is, how to parse it, and the help text.
// Plain data and functions: any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

struct CamSimOptions {
  std::string listenIp;
  uint16_t listenPort = 0;  // 0: any free port, reported on the "listening" line
  std::string user = "admin";
  std::string password = "admin";
  int analogChannels = 1;
  int ipChannels = 0;
  std::vector<bool> analogEnabled;  // one per analog channel
  std::vector<bool> ipEnabled;      // one per IP channel
  int maxLinks = 16;
  int loginTimeoutSeconds = 10;  // a connection that has not logged in by then is dropped
  bool versionMismatch = false;
  std::string scriptPath;
  bool help = false;
};

// Fills *options from the arguments (without the program name); false with *error set on
// a bad argument.
bool ParseCamSimOptions(const std::vector<std::string>& args, CamSimOptions* options,
                        std::string* error);
const char* CamSimUsage();

}  // namespace camsim
