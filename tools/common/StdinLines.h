// Lines of standard input, read by a detached thread of their own so that a reader blocked
// on the terminal never holds up the simulator's exit. Next and Interrupt may be called from
// any thread; the shared state (lines, end, interrupted) is guarded by its own mutex.
#pragma once

#include <memory>
#include <string>

namespace simtools {

class StdinLines {
 public:
  StdinLines();
  StdinLines(const StdinLines&) = delete;
  StdinLines& operator=(const StdinLines&) = delete;

  // Waits for the next line; false at the end of input or after Interrupt.
  bool Next(std::string* line);
  void Interrupt();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace simtools
