// Captures what the debug output channel (standard error) receives during a test, from every
// thread, as lines. One capture at a time, owned by the test thread.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

class DebugOutputCapture {
 public:
  DebugOutputCapture() { testing::internal::CaptureStderr(); }
  ~DebugOutputCapture() {
    if (!taken_) testing::internal::GetCapturedStderr();
  }
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  // Ends the capture and returns the lines written since it began.
  std::vector<std::string> Take() {
    taken_ = true;
    std::istringstream in(testing::internal::GetCapturedStderr());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  bool taken_ = false;
};
