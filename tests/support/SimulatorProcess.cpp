#include "tests/support/SimulatorProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <thread>

namespace simtest {

namespace {

std::vector<std::string> Arguments(const std::string& ip, const std::vector<std::string>& args,
                                   bool listen) {
  std::vector<std::string> all;
  if (listen) {
    all.push_back("--listen");
    all.push_back(ip + ":0");
  }
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

}  // namespace

std::string TestData(const std::string& name) {
  return std::string(VESTREL_TEST_DATA_DIR) + "/" + name;
}

SimulatorProcess::SimulatorProcess(const std::string& executable, const std::string& ip,
                                   const std::vector<std::string>& args, bool listen)
    : name_(std::filesystem::path(executable).filename().string()),
      ip_(ip),
      listen_(listen),
      outPath_(dir_.File("simulator.out")),
      errPath_(dir_.File("simulator.err")) {
  platform::Subprocess::Options options;
  options.arguments = Arguments(ip, args, listen);
  options.stdoutPath = outPath_;
  options.stderrPath = errPath_;
  options.pipeStdin = true;
  std::string error;
  if (!process_.Start(executable, options, &error)) {
    ADD_FAILURE() << error;
    return;
  }
  if (!listen) return;
  PollFor([&] { return !Lines(outPath_).empty(); }, kWait);
  const std::vector<std::string> lines = Lines(outPath_);
  const std::string prefix = "listening " + ip + ":";
  if (!lines.empty() && lines[0].rfind(prefix, 0) == 0) {
    port_ = static_cast<uint16_t>(std::stoi(lines[0].substr(prefix.size())));
    matched_ = 1;
  }
}

SimulatorProcess::~SimulatorProcess() {
  const int code = Stop();
  // A simulator that was running must end cleanly: a sanitizer report also shows up here.
  if (listen_ && code != 0) {
    ADD_FAILURE() << name_ << " ended with " << code << "\n" << Errors();
  }
}

std::vector<std::string> SimulatorProcess::Lines(const std::string& path) const {
  std::istringstream text(ReadFileBytes(path));
  std::vector<std::string> lines;
  std::string line;
  // A last line without its newline is still being written.
  while (std::getline(text, line)) {
    if (text.eof()) break;
    lines.push_back(line);
  }
  return lines;
}

bool SimulatorProcess::PollFor(const std::function<bool()>& condition,
                               std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool SimulatorProcess::Command(const std::string& line) {
  return !inputClosed_ && process_.WriteStdin(line + "\n");
}

void SimulatorProcess::CloseInput() {
  inputClosed_ = true;
  process_.CloseStdin();
}

bool SimulatorProcess::WaitForMatch(const std::function<bool(const std::string&)>& match,
                                    std::string* line, std::chrono::milliseconds timeout) {
  return PollFor(
      [&] {
        const std::vector<std::string> lines = Lines(outPath_);
        if (matched_ > lines.size()) return false;
        auto it =
            std::find_if(lines.begin() + static_cast<std::ptrdiff_t>(matched_), lines.end(), match);
        if (it == lines.end()) return false;
        matched_ = static_cast<size_t>(it - lines.begin()) + 1;
        if (line != nullptr) *line = *it;
        return true;
      },
      timeout);
}

bool SimulatorProcess::WaitForLine(const std::string& line, std::chrono::milliseconds timeout) {
  return WaitForMatch([&](const std::string& candidate) { return candidate == line; }, nullptr,
                      timeout);
}

bool SimulatorProcess::WaitForPrefix(const std::string& prefix, std::string* line,
                                     std::chrono::milliseconds timeout) {
  return WaitForMatch([&](const std::string& candidate) { return candidate.rfind(prefix, 0) == 0; },
                      line, timeout);
}

bool SimulatorProcess::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
  return PollFor(
      [&] {
        const std::vector<std::string> lines = Lines(errPath_);
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
          return line.find(text) != std::string::npos;
        });
      },
      timeout);
}

int SimulatorProcess::Count(const std::string& line) {
  const std::vector<std::string> lines = Lines(outPath_);
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

std::string SimulatorProcess::Output() { return Joined(Lines(outPath_)); }
std::string SimulatorProcess::Errors() { return Joined(Lines(errPath_)); }

int SimulatorProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (exitCode_ >= 0) return exitCode_;
  if (process_.Pid() <= 0 || !process_.Wait(static_cast<int>(timeout.count()))) return -1;
  exitCode_ = process_.ExitStatus();
  return exitCode_;
}

int SimulatorProcess::Terminate() {
  if (exitCode_ >= 0) return exitCode_;
  process_.Terminate();
  return WaitForExit();
}

int SimulatorProcess::Stop() {
  if (exitCode_ >= 0 || process_.Pid() <= 0) return exitCode_;
  Command("quit");
  int code = WaitForExit(std::chrono::seconds(5));
  if (code >= 0) return code;
  code = Terminate();
  if (code >= 0) return code;
  process_.Kill();
  return WaitForExit();
}

}  // namespace simtest
