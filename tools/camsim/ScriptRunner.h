// Runs the simulator's commands (the script file's lines, then standard input's) on the
// command loop's thread. Start and Stop are called by the main thread; the quit function
// runs on the loop's thread.
#pragma once

#include <functional>
#include <string>

#include "tools/camsim/ScriptCommand.h"
#include "tools/camsim/SimDevice.h"
#include "tools/common/CommandLoop.h"

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
  // False when the line was quit.
  bool RunLine(const std::string& line, const std::string& where);
  void Execute(const ScriptCommand& command, const std::string& where);
  void SendFace(const FaceCommand& face, const std::string& where);

  SimDevice& device_;
  simtools::EventPrinter& printer_;
  const std::function<void()> quit_;
  simtools::CommandLoop loop_;
};

}  // namespace camsim
