// Test helper: runs the current test again in a child process of this test binary, so that a
// test can exercise signals, crashes and process exit. The child sees VESTREL_PLATFORM_CHILD
// set to the test's name and takes the child branch; the parent watches its output, which goes
// to files, and its exit. Built on platform::Subprocess. One thread drives a TestChildProcess.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/ModulePath.h"
#include "platform/Subprocess.h"
#include "tests/support/TempDir.h"

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

// Child side: writes a line to standard output at once.
inline void Say(const std::string& text) {
  std::fputs((text + "\n").c_str(), stdout);
  std::fflush(stdout);
}

class TestChildProcess {
 public:
  TestChildProcess() = default;
  TestChildProcess(const TestChildProcess&) = delete;
  TestChildProcess& operator=(const TestChildProcess&) = delete;
  // The Subprocess kills and reaps a child that is still running.
  ~TestChildProcess() = default;

  bool Start() {
    platform::Subprocess::Options options;
    options.arguments = {"--gtest_filter=" + CurrentTestName()};
    options.environment = {{"VESTREL_PLATFORM_CHILD", CurrentTestName()}};
    options.stdoutPath = dir_.File("stdout");
    options.stderrPath = dir_.File("stderr");
    return process_.Start(platform::ModuleFileName(), options);
  }

  // Waits until the child's standard output contains text.
  bool WaitForOutput(const std::string& text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Stdout().find(text) == std::string::npos) {
      if (Clock::now() >= deadline || !process_.Running()) {
        return Stdout().find(text) != std::string::npos;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  void Signal(int signalNumber) { process_.SendSignal(signalNumber); }

  // Waits for the child to end; false on time-out.
  bool WaitForExit(int timeoutMs) {
    reaped_ = process_.Wait(timeoutMs);
    return reaped_;
  }

  bool Exited(int code) const {
    return reaped_ && !process_.EndedBySignal() && process_.ExitStatus() == code;
  }
  bool KilledBy(int signalNumber) const {
    return reaped_ && process_.EndedBySignal() && process_.ExitStatus() == 128 + signalNumber;
  }
  // Killed by the signal, or ended with the status 128 + signal that a handler uses when the
  // signal's default action did not end the process (as under some sanitizers).
  bool EndedBySignal(int signalNumber) const {
    return reaped_ && process_.ExitStatus() == 128 + signalNumber;
  }
  std::string Describe() const {
    if (!reaped_) return "still running";
    return (process_.EndedBySignal() ? "killed by signal " : "exit status ") +
           std::to_string(process_.EndedBySignal() ? process_.ExitStatus() - 128
                                                   : process_.ExitStatus());
  }
  std::string Stdout() const { return ReadFileBytes(dir_.File("stdout")); }
  std::string Stderr() const { return ReadFileBytes(dir_.File("stderr")); }

 private:
  using Clock = std::chrono::steady_clock;

  TempDir dir_;
  platform::Subprocess process_;
  bool reaped_ = false;
};

}  // namespace testchild
