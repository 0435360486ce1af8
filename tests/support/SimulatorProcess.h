// Test helper: one simulator child process (vestrel-camsim, vestrel-facesim) on a loopback
// address, commands on its standard input, its output and error lines read back from files.
// Used by one test thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Subprocess.h"
#include "tests/support/TempDir.h"

namespace simtest {

class SimulatorProcess {
 public:
  static constexpr std::chrono::seconds kWait{10};

  // Starts the simulator listening on ip, port picked by the simulator, with the extra
  // arguments, and waits for its "listening" line. With listen false the arguments are passed
  // as they are.
  SimulatorProcess(const std::string& executable, const std::string& ip,
                   const std::vector<std::string>& args, bool listen = true);
  // Stops the process (see Stop); a failure of the test when a listening simulator did not
  // end with status 0.
  ~SimulatorProcess();
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  bool Started() const { return port_ != 0; }
  const std::string& Ip() const { return ip_; }
  uint16_t Port() const { return port_; }
  int Pid() const { return process_.Pid(); }

  // False when the simulator no longer reads its input.
  bool Command(const std::string& line);
  void CloseInput();
  // Waits for an output line equal to line, after the last line matched before; true when
  // it came within the bound.
  bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout = kWait);
  // The same for the first line that begins with prefix; the whole line goes to *line.
  bool WaitForPrefix(const std::string& prefix, std::string* line,
                     std::chrono::milliseconds timeout = kWait);
  // Waits for an error line containing text.
  bool WaitForError(const std::string& text, std::chrono::milliseconds timeout = kWait);
  int Count(const std::string& line);
  std::string Output();
  std::string Errors();

  // Sends SIGTERM; returns the exit code, or -1 when it did not end within the bound.
  int Terminate();
  // Waits for the process to end by itself; the exit code, or -1 on time-out.
  int WaitForExit(std::chrono::milliseconds timeout = kWait);
  // Ends the process: quit, then SIGTERM, then SIGKILL, each with a bounded wait.
  int Stop();

 private:
  // The complete lines written so far to one of the output files.
  std::vector<std::string> Lines(const std::string& path) const;
  // Polls the condition every 10 ms until it holds or the time is up.
  static bool PollFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

  // Waits for the first line after the last one matched that satisfies match.
  bool WaitForMatch(const std::function<bool(const std::string&)>& match, std::string* line,
                    std::chrono::milliseconds timeout);

  const std::string name_;  // the executable's file name, for messages
  const std::string ip_;
  const bool listen_;
  TempDir dir_;
  const std::string outPath_;
  const std::string errPath_;
  platform::Subprocess process_;
  uint16_t port_ = 0;
  bool inputClosed_ = false;
  int exitCode_ = -1;
  size_t matched_ = 0;  // output lines already passed by WaitForLine
};

// The path of a test data file.
std::string TestData(const std::string& name);

}  // namespace simtest
