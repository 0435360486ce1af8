#include "platform/Subprocess.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace platform {

namespace {

std::vector<std::string> MergedEnvironment(
    const std::vector<std::pair<std::string, std::string>>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& kv : extra) {
      if (entry.compare(0, kv.first.size() + 1, kv.first + "=") == 0) replaced = true;
    }
    if (!replaced) env.push_back(entry);
  }
  for (const auto& kv : extra) env.push_back(kv.first + "=" + kv.second);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& t : texts) pointers.push_back(&t[0]);
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

Subprocess::~Subprocess() {
  CloseStdin();
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    Reap(true);
  }
}

bool Subprocess::Start(const std::string& program, const Options& options, std::string* error) {
  if (pid_ > 0) {
    if (error != nullptr) *error = "already started";
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int stdinPipe[2] = {-1, -1};
  if (options.pipeStdin) {
    if (::pipe2(stdinPipe, O_CLOEXEC) != 0) {
      if (error != nullptr) *error = std::strerror(errno);
      posix_spawn_file_actions_destroy(&actions);
      return false;
    }
    posix_spawn_file_actions_adddup2(&actions, stdinPipe[0], STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  if (!options.stdoutPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (!options.stderrPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (!options.workingDirectory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
  }
  // The child starts with default signal handling and nothing blocked, whatever the caller set.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), options.arguments.begin(), options.arguments.end());
  std::vector<std::string> env = MergedEnvironment(options.environment);
  std::vector<char*> argvPointers = Pointers(argv);
  std::vector<char*> envPointers = Pointers(env);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argvPointers.data(),
                               envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (stdinPipe[0] >= 0) ::close(stdinPipe[0]);
  if (rc != 0) {
    if (stdinPipe[1] >= 0) ::close(stdinPipe[1]);
    if (error != nullptr) *error = program + ": " + std::strerror(rc);
    return false;
  }
  pid_ = pid;
  stdinFd_ = stdinPipe[1];
  reaped_ = false;
  return true;
}

bool Subprocess::Reap(bool block) {
  if (pid_ <= 0) return false;
  if (reaped_) return true;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r != pid_) return false;
  reaped_ = true;
  if (WIFEXITED(status)) {
    status_ = WEXITSTATUS(status);
    signaled_ = false;
  } else if (WIFSIGNALED(status)) {
    status_ = 128 + WTERMSIG(status);
    signaled_ = true;
  }
  return true;
}

bool Subprocess::Running() { return pid_ > 0 && !Reap(false); }

bool Subprocess::WriteStdin(const std::string& text) {
  if (stdinFd_ < 0) return false;
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(stdinFd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

void Subprocess::CloseStdin() {
  if (stdinFd_ >= 0) ::close(stdinFd_);
  stdinFd_ = -1;
}

bool Subprocess::Terminate() { return pid_ > 0 && !reaped_ && ::kill(pid_, SIGTERM) == 0; }
bool Subprocess::Kill() { return pid_ > 0 && !reaped_ && ::kill(pid_, SIGKILL) == 0; }
bool Subprocess::SendSignal(int signalNumber) {
  return pid_ > 0 && !reaped_ && ::kill(pid_, signalNumber) == 0;
}

bool Subprocess::Wait(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!Reap(false)) {
    if (pid_ <= 0 || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace platform
