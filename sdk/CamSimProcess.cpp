#include "sdk/CamSimProcess.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace sdktest {

namespace bp = boost::process;

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

}  // namespace

std::string TestData(const std::string& name) {
  return std::string(VESTREL_TEST_DATA_DIR) + "/" + name;
}

CamSimProcess::CamSimProcess(const std::string& ip, const std::vector<std::string>& args,
                             bool listen)
    : ip_(ip),
      listen_(listen),
      child_(std::string(VESTREL_CAMSIM_EXE), Arguments(ip, args, listen),
             bp::std_in<input_, bp::std_out> output_, bp::std_err > errors_) {
  pid_ = child_.id();
  outReader_ = std::thread([this] { ReadLines(output_, &outLines_); });
  errReader_ = std::thread([this] { ReadLines(errors_, &errLines_); });
  if (!listen) return;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, kWait, [&] { return !outLines_.empty(); });
  const std::string prefix = "listening " + ip + ":";
  if (!outLines_.empty() && outLines_[0].rfind(prefix, 0) == 0) {
    port_ = static_cast<uint16_t>(std::stoi(outLines_[0].substr(prefix.size())));
    matched_ = 1;
  }
}

CamSimProcess::~CamSimProcess() {
  const int code = Stop();
  // A simulator that was running must end cleanly: a sanitizer report also shows up here.
  if (listen_ && code != 0) {
    ADD_FAILURE() << "vestrel-camsim ended with " << code << "\n" << Errors();
  }
  JoinReaders();
}

void CamSimProcess::ReadLines(bp::ipstream& stream, std::vector<std::string>* lines) {
  std::string line;
  while (std::getline(stream, line)) {
    std::lock_guard<std::mutex> guard(mutex_);
    lines->push_back(line);
    changed_.notify_all();
  }
}

void CamSimProcess::JoinReaders() {
  // The pipes reach their end once the process is gone.
  if (outReader_.joinable()) outReader_.join();
  if (errReader_.joinable()) errReader_.join();
}

void CamSimProcess::Command(const std::string& line) {
  if (inputClosed_) return;
  input_ << line << '\n' << std::flush;
}

void CamSimProcess::CloseInput() {
  if (inputClosed_) return;
  inputClosed_ = true;
  input_.flush();
  input_.pipe().close();
}

bool CamSimProcess::WaitForLine(const std::string& line, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    auto begin = outLines_.begin() + static_cast<std::ptrdiff_t>(matched_);
    auto it = std::find(begin, outLines_.end(), line);
    if (it == outLines_.end()) return false;
    matched_ = static_cast<size_t>(it - outLines_.begin()) + 1;
    return true;
  });
}

bool CamSimProcess::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return std::any_of(errLines_.begin(), errLines_.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  });
}

int CamSimProcess::Count(const std::string& line) {
  std::lock_guard<std::mutex> guard(mutex_);
  return static_cast<int>(std::count(outLines_.begin(), outLines_.end(), line));
}

std::string CamSimProcess::Output() {
  std::lock_guard<std::mutex> guard(mutex_);
  std::string text;
  for (const auto& line : outLines_) text += line + "\n";
  return text;
}

std::string CamSimProcess::Errors() {
  std::lock_guard<std::mutex> guard(mutex_);
  std::string text;
  for (const auto& line : errLines_) text += line + "\n";
  return text;
}

int CamSimProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (exitCode_ >= 0) return exitCode_;
  if (!child_.valid()) return -1;
  // Polled: a timed wait can miss the exit when another child has ended meanwhile.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::error_code ec;
    const bool running = child_.running(ec);
    if (ec) return -1;
    if (!running) {
      exitCode_ = child_.exit_code();
      JoinReaders();
      return exitCode_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int CamSimProcess::Terminate() {
  if (exitCode_ >= 0) return exitCode_;
  std::error_code ec;
  bp::child kill(std::string("/bin/kill"), std::vector<std::string>{"-TERM", std::to_string(pid_)},
                 ec);
  if (!ec) kill.wait(ec);
  return WaitForExit();
}

int CamSimProcess::Stop() {
  if (exitCode_ >= 0) return exitCode_;
  Command("quit");
  int code = WaitForExit(std::chrono::seconds(5));
  if (code >= 0) return code;
  code = Terminate();
  if (code >= 0) return code;
  std::error_code ec;
  child_.terminate(ec);
  return WaitForExit();
}

}  // namespace sdktest
