// A named thread that is created suspended and runs its procedure once resumed.
// There is no forced termination: the procedure must return by itself. The owner
// (one thread) calls Resume, Join and the destructor; ExitCode after a successful Join.
#pragma once

#include <memory>
#include <string>

namespace platform {

class Thread {
 public:
  using Procedure = unsigned (*)(void* arg);
  enum class Priority { Normal, AboveNormal };

  // The name (at most 15 characters are shown by system tools) says what the thread serves.
  Thread(std::string name, Procedure procedure, void* arg, Priority priority = Priority::Normal);
  // Joins a thread that is running; a thread that was never resumed does not run at all.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  void Resume();
  // True when the thread has ended within timeoutMs (kInfinite waits without limit).
  bool Join(int timeoutMs);
  // The procedure's return value; meaningful after Join returned true.
  unsigned ExitCode() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// Sleeps the calling thread.
void SleepMs(int ms);

}  // namespace platform
