#include "tests/support/CamSimProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <thread>

namespace sdktest {

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

CamSimProcess::CamSimProcess(const std::string& ip, const std::vector<std::string>& args,
                             bool listen)
    : ip_(ip), listen_(listen), outPath_(dir_.File("camsim.out")), errPath_(dir_.File("camsim.err")) {
  platform::Subprocess::Options options;
  options.arguments = Arguments(ip, args, listen);
  options.stdoutPath = outPath_;
  options.stderrPath = errPath_;
  options.pipeStdin = true;
  std::string error;
  if (!process_.Start(VESTREL_CAMSIM_EXE, options, &error)) {
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

CamSimProcess::~CamSimProcess() {
  const int code = Stop();
  // A simulator that was running must end cleanly: a sanitizer report also shows up here.
  if (listen_ && code != 0) {
    ADD_FAILURE() << "vestrel-camsim ended with " << code << "\n" << Errors();
  }
}

std::vector<std::string> CamSimProcess::Lines(const std::string& path) const {
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

bool CamSimProcess::PollFor(const std::function<bool()>& condition,
                            std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool CamSimProcess::Command(const std::string& line) {
  return !inputClosed_ && process_.WriteStdin(line + "\n");
}

void CamSimProcess::CloseInput() {
  inputClosed_ = true;
  process_.CloseStdin();
}

bool CamSimProcess::WaitForLine(const std::string& line, std::chrono::milliseconds timeout) {
  return PollFor(
      [&] {
        const std::vector<std::string> lines = Lines(outPath_);
        if (matched_ > lines.size()) return false;
        auto it = std::find(lines.begin() + static_cast<std::ptrdiff_t>(matched_), lines.end(), line);
        if (it == lines.end()) return false;
        matched_ = static_cast<size_t>(it - lines.begin()) + 1;
        return true;
      },
      timeout);
}

bool CamSimProcess::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
  return PollFor(
      [&] {
        const std::vector<std::string> lines = Lines(errPath_);
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
          return line.find(text) != std::string::npos;
        });
      },
      timeout);
}

int CamSimProcess::Count(const std::string& line) {
  const std::vector<std::string> lines = Lines(outPath_);
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

std::string CamSimProcess::Output() { return Joined(Lines(outPath_)); }
std::string CamSimProcess::Errors() { return Joined(Lines(errPath_)); }

int CamSimProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (exitCode_ >= 0) return exitCode_;
  if (process_.Pid() <= 0 || !process_.Wait(static_cast<int>(timeout.count()))) return -1;
  exitCode_ = process_.ExitStatus();
  return exitCode_;
}

int CamSimProcess::Terminate() {
  if (exitCode_ >= 0) return exitCode_;
  process_.Terminate();
  return WaitForExit();
}

int CamSimProcess::Stop() {
  if (exitCode_ >= 0 || process_.Pid() <= 0) return exitCode_;
  Command("quit");
  int code = WaitForExit(std::chrono::seconds(5));
  if (code >= 0) return code;
  code = Terminate();
  if (code >= 0) return code;
  process_.Kill();
  return WaitForExit();
}

}  // namespace sdktest
