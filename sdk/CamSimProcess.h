// Test helper: one vestrel-camsim child process on a loopback address, with its standard
// input for commands and its output lines collected by reader threads. Used by one test
// thread; mutex_ guards the collected lines.
#pragma once

#include <boost/process.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sdktest {

class CamSimProcess {
 public:
  static constexpr std::chrono::seconds kWait{10};

  // Starts camsim listening on ip, port picked by camsim, with the extra arguments, and
  // waits for its "listening" line. With listen false the arguments are passed as they are.
  CamSimProcess(const std::string& ip, const std::vector<std::string>& args, bool listen = true);
  // Stops the process (see Stop); a failure of the test when a listening simulator did not
  // end with status 0.
  ~CamSimProcess();
  CamSimProcess(const CamSimProcess&) = delete;
  CamSimProcess& operator=(const CamSimProcess&) = delete;

  bool Started() const { return port_ != 0; }
  const std::string& Ip() const { return ip_; }
  uint16_t Port() const { return port_; }
  int Pid() const { return pid_; }

  void Command(const std::string& line);
  void CloseInput();
  // Waits for an output line equal to line, after the last line matched before; true when
  // it came within the bound.
  bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout = kWait);
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
  void ReadLines(boost::process::ipstream& stream, std::vector<std::string>* lines);
  void JoinReaders();

  std::string ip_;
  bool listen_;
  uint16_t port_ = 0;
  int pid_ = -1;
  boost::process::opstream input_;
  boost::process::ipstream output_;
  boost::process::ipstream errors_;
  boost::process::child child_;
  std::thread outReader_;
  std::thread errReader_;
  bool inputClosed_ = false;
  int exitCode_ = -1;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> outLines_;
  std::vector<std::string> errLines_;
  size_t matched_ = 0;  // output lines already passed by WaitForLine
};

// The path of a test data file.
std::string TestData(const std::string& name);

}  // namespace sdktest
