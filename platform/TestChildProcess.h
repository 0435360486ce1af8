// Test helper: runs the current test again in a child process of this test binary, so that a
// test can exercise signals, crashes and process exit. The child sees VESTREL_PLATFORM_CHILD
// set to the test's name and takes the child branch; the parent watches its output and exit.
// Test-only; one TestChildProcess is driven by one thread.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ModulePath.h"

extern char** environ;

namespace testchild {

inline std::string CurrentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string(info->test_suite_name()) + "." + info->name();
}

// True in the child started for the current test.
inline bool IsChild() {
  const char* marker = std::getenv("VESTREL_PLATFORM_CHILD");
  return marker != nullptr && CurrentTestName() == marker;
}

// Child side: writes text to stdout at once (no buffering between the parent and it).
inline void Say(const std::string& text) {
  const std::string line = text + "\n";
  const ssize_t n = ::write(STDOUT_FILENO, line.data(), line.size());
  (void)n;
}

// Child side: a crash must not leave a core file behind.
inline void NoCoreFile() {
  struct rlimit none {};
  ::setrlimit(RLIMIT_CORE, &none);
}

class TestChildProcess {
 public:
  TestChildProcess() = default;
  TestChildProcess(const TestChildProcess&) = delete;
  TestChildProcess& operator=(const TestChildProcess&) = delete;

  ~TestChildProcess() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    CloseFd(&outFd_);
    CloseFd(&errFd_);
  }

  bool Start() {
    const std::string exe = platform::ModuleFileName();
    const std::string filter = "--gtest_filter=" + CurrentTestName();
    const std::string marker = "VESTREL_PLATFORM_CHILD=" + CurrentTestName();
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "VESTREL_PLATFORM_CHILD=", 23) != 0) env.emplace_back(*e);
    }
    env.push_back(marker);
    std::vector<char*> argv = {const_cast<char*>(exe.c_str()), const_cast<char*>(filter.c_str()),
                               nullptr};
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(&s[0]);
    envp.push_back(nullptr);

    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
      ::close(out[0]);
      ::close(out[1]);
      return false;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec.
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    return pid_ > 0;
  }

  // Waits until the child's standard output contains text.
  bool WaitForOutput(const std::string& text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out_.find(text) == std::string::npos) {
      if (Clock::now() >= deadline || (outFd_ < 0 && errFd_ < 0)) return false;
      Drain(50);
    }
    return true;
  }

  void Signal(int signo) { ::kill(pid_, signo); }

  // Waits for the child to end, reading its output meanwhile; false on time-out.
  bool WaitForExit(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!reaped_) {
      if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
        reaped_ = true;
        break;
      }
      if (Clock::now() >= deadline) return false;
      Drain(20);
    }
    // The rest of the output, up to end of file.
    const auto drainDeadline = Clock::now() + std::chrono::seconds(5);
    while ((outFd_ >= 0 || errFd_ >= 0) && Clock::now() < drainDeadline) Drain(100);
    return true;
  }

  bool Exited(int code) const {
    return reaped_ && WIFEXITED(status_) && WEXITSTATUS(status_) == code;
  }
  bool KilledBy(int signo) const {
    return reaped_ && WIFSIGNALED(status_) && WTERMSIG(status_) == signo;
  }
  // Killed by the signal, or ended with the status 128 + signal that a handler uses when the
  // signal's default action did not end the process (as under some sanitizers).
  bool EndedBySignal(int signo) const { return KilledBy(signo) || Exited(128 + signo); }
  std::string Describe() const {
    if (!reaped_) return "still running";
    if (WIFEXITED(status_)) return "exit status " + std::to_string(WEXITSTATUS(status_));
    if (WIFSIGNALED(status_)) return "killed by signal " + std::to_string(WTERMSIG(status_));
    return "status " + std::to_string(status_);
  }
  const std::string& Stdout() const { return out_; }
  const std::string& Stderr() const { return err_; }

 private:
  using Clock = std::chrono::steady_clock;

  static void CloseFd(int* fd) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }

  void Drain(int timeoutMs) {
    pollfd fds[2];
    int n = 0;
    if (outFd_ >= 0) fds[n++] = pollfd{outFd_, POLLIN, 0};
    if (errFd_ >= 0) fds[n++] = pollfd{errFd_, POLLIN, 0};
    if (n == 0 || ::poll(fds, static_cast<nfds_t>(n), timeoutMs) <= 0) return;
    for (int i = 0; i < n; ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const bool isOut = fds[i].fd == outFd_;
      char buffer[65536];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (isOut ? out_ : err_).append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        CloseFd(isOut ? &outFd_ : &errFd_);
      }
    }
  }

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  std::string out_;
  std::string err_;
};

}  // namespace testchild
