// Runs the face-service simulator's commands (the script file's lines, then standard
// input's) on the command loop's thread, against the server. Start and Stop are called by
// the main thread; the quit function runs on the loop's thread.
#pragma once

#include <functional>
#include <string>

#include "tools/common/CommandLoop.h"
#include "tools/facesim/SimServer.h"

namespace facesim {

class ScriptRunner {
 public:
  ScriptRunner(SimServer& server, EventPrinter& printer, std::function<void()> quit)
      : server_(server), quit_(std::move(quit)), loop_(printer) {}
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  bool LoadScript(const std::string& path, std::string* error) {
    return loop_.LoadScript(path, error);
  }
  void Start();
  // Interrupts a running wait and ends the thread.
  void Stop() { loop_.Stop(); }

 private:
  // False when the line was quit.
  bool RunLine(const std::string& line, const std::string& where);

  SimServer& server_;
  const std::function<void()> quit_;
  simtools::CommandLoop loop_;
};

}  // namespace facesim
