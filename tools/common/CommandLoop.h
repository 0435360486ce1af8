// Runs a simulator's commands on a thread of its own: the lines of the script file first,
// then those of standard input, each handed to the simulator's line handler with its place
// ("FILE:LINE" or "stdin:LINE"). Start and Stop are called by the main thread; the handler,
// and the Sleep it may call, run on the loop's thread. mutex_ guards stopping_.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/common/EventPrinter.h"
#include "tools/common/ScriptWords.h"
#include "tools/common/StdinLines.h"

namespace simtools {

class CommandLoop {
 public:
  // Runs one line; false ends the loop (the simulator quits).
  using LineHandler = std::function<bool(const std::string& line, const std::string& where)>;

  explicit CommandLoop(EventPrinter& printer) : printer_(printer) {}
  // Stops and joins.
  ~CommandLoop();
  CommandLoop(const CommandLoop&) = delete;
  CommandLoop& operator=(const CommandLoop&) = delete;

  // Before Start.
  bool LoadScript(const std::string& path, std::string* error);
  void Start(LineHandler handler);
  // Interrupts a running Sleep and ends the thread.
  void Stop();

  // Reports a line that was not carried out: "where: message (line skipped)".
  void BadLine(const std::string& where, const std::string& message);
  // Parses a line with parse(line, &command, &error), which returns a ParseResult, and
  // reports it when it is bad. True when it holds a command.
  template <typename Command, typename Parse>
  bool ParseLine(Parse parse, const std::string& line, const std::string& where, Command* command) {
    std::string error;
    const ParseResult result = parse(line, command, &error);
    if (result == ParseResult::Error) BadLine(where, error);
    return result == ParseResult::Command;
  }

  // Waits; false when stopped first.
  bool Sleep(double seconds);
  bool StopRequested();

 private:
  void Run();

  EventPrinter& printer_;
  LineHandler handler_;
  std::string scriptName_;
  std::vector<std::string> scriptLines_;
  StdinLines* stdin_ = nullptr;  // created by Start; lives as long as the process
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
};

}  // namespace simtools
