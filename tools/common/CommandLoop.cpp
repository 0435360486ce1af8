#include "tools/common/CommandLoop.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <fstream>

namespace simtools {

CommandLoop::~CommandLoop() { Stop(); }

bool CommandLoop::LoadScript(const std::string& path, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    *error = "cannot read script " + path;
    return false;
  }
  scriptName_ = path;
  std::string line;
  while (std::getline(file, line)) scriptLines_.push_back(line);
  return true;
}

void CommandLoop::Start(LineHandler handler) {
  handler_ = std::move(handler);
  // Deliberately never deleted: its reader thread may still be blocked on the terminal at exit.
  static StdinLines* lines = new StdinLines();
  stdin_ = lines;
  thread_ = std::thread([this] { Run(); });
}

void CommandLoop::Stop() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  if (stdin_) stdin_->Interrupt();
  if (thread_.joinable()) thread_.join();
}

void CommandLoop::BadLine(const std::string& where, const std::string& message) {
  printer_.Error(where + ": " + message + " (line skipped)");
}

bool CommandLoop::StopRequested() {
  std::lock_guard<std::mutex> guard(mutex_);
  return stopping_;
}

bool CommandLoop::Sleep(double seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000)),
                         [this] { return stopping_; });
}

void CommandLoop::Run() {
  try {
    for (size_t i = 0; i < scriptLines_.size(); ++i) {
      if (StopRequested()) return;
      if (!handler_(scriptLines_[i], scriptName_ + ":" + std::to_string(i + 1))) return;
    }
    std::string line;
    for (size_t number = 1; !StopRequested() && stdin_->Next(&line); ++number) {
      if (!handler_(line, "stdin:" + std::to_string(number))) return;
    }
  } catch (const std::exception& e) {
    printer_.Error(std::string("command runner failed: ") + e.what());
  } catch (...) {
    printer_.Error("command runner failed");
  }
}

}  // namespace simtools
