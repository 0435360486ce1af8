// A child process started from an executable path, for tools and end-to-end tests: standard
// output and error go to files, standard input may be a pipe, and the child is stopped by its
// PID. The destructor kills and reaps a child that is still running. One thread drives it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace platform {

class Subprocess {
 public:
  struct Options {
    std::vector<std::string> arguments;  // after the program name
    std::string workingDirectory;        // empty: the caller's
    std::vector<std::pair<std::string, std::string>> environment;  // added or replaced
    std::string stdoutPath;  // empty: inherit
    std::string stderrPath;  // empty: inherit
    bool pipeStdin = false;  // otherwise standard input reads from /dev/null
  };

  Subprocess() = default;
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // False (with a reason in *error) when the program cannot be started.
  bool Start(const std::string& program, const Options& options, std::string* error = nullptr);
  int Pid() const { return pid_; }
  bool Running();

  bool WriteStdin(const std::string& text);
  void CloseStdin();

  // The shutdown request a service manager sends (SIGTERM on POSIX).
  bool Terminate();
  bool Kill();
  // Sends the signal of that number (the host's numbering).
  bool SendSignal(int signalNumber);
  // True when the child has ended within timeoutMs; then ExitStatus is its exit code, or
  // 128 + the signal number when a signal ended it.
  bool Wait(int timeoutMs);
  int ExitStatus() const { return status_; }
  bool EndedBySignal() const { return signaled_; }

 private:
  bool Reap(bool block);

  int pid_ = -1;
  int stdinFd_ = -1;
  bool reaped_ = false;
  int status_ = -1;
  bool signaled_ = false;
};

}  // namespace platform
