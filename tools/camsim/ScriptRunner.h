// Runs the simulator's commands: the script file's lines first, then standard input's,
// on a thread of its own. Start and Stop are called by the main thread; the quit function
// runs on the runner's thread. mutex_ guards stopping_.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/camsim/ScriptCommand.h"
#include "tools/camsim/SimDevice.h"
#include "tools/camsim/StdinLines.h"

namespace camsim {

class ScriptRunner {
 public:
  ScriptRunner(SimDevice& device, std::function<void()> quit);
  // Stops and joins.
  ~ScriptRunner();
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  bool LoadScript(const std::string& path, std::string* error);
  void Start();
  // Interrupts a running wait and ends the thread.
  void Stop();

 private:
  void Run();
  // False when the line was quit.
  bool RunLine(const std::string& line, const std::string& where);
  void Execute(const ScriptCommand& command, const std::string& where);
  void SendFace(const FaceCommand& face, const std::string& where);
  // Waits; false when stopped first.
  bool Sleep(double seconds);
  bool StopRequested();

  SimDevice& device_;
  EventPrinter& printer_;
  const std::function<void()> quit_;
  std::string scriptName_;
  std::vector<std::string> scriptLines_;
  StdinLines* stdin_ = nullptr;  // created by Start; lives as long as the process
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
};

}  // namespace camsim
