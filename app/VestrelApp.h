// The application object: installs the crash handler, runs the hidden main dialog modally on
// the main thread and returns the process exit code. Main thread only.
#pragma once

#include <string>

class CVestrelApp {
 public:
  CVestrelApp() = default;
  CVestrelApp(const CVestrelApp&) = delete;
  CVestrelApp& operator=(const CVestrelApp&) = delete;

  // argumentText is the command line after the program name. Returns the exit code of the
  // modal run: 0 after a close by the system (SIGTERM), -1 after a posted quit of -1.
  int InitInstance(const std::string& argumentText);
};
