// Signal handlers here only use async-signal-safe calls: write, raise, _exit and lock-free
// atomics. A shutdown signal is handed through a self-pipe to a relay thread, which posts
// the close message in ordinary thread context.
#include "platform/ProcessEnd.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <system_error>
#include <thread>

#include "platform/DebugOutput.h"
#include "platform/MessageLoop.h"

namespace platform {

namespace {

constexpr char kCrashLine[] = "[tq] Unhandled exception, exiting...\n";
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kShutdownSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<bool> g_crashing{false};
std::atomic<int> g_shutdownCount{0};
std::atomic<const char*> g_shutdownSignalName{nullptr};
int g_wakeWrite = -1;  // the self-pipe; set once before the handlers are installed

// Room for the crash handler when the main thread's stack has overflowed.
alignas(16) char g_altStack[64 * 1024];

void WriteCrashLineOnce() {
  if (g_crashing.exchange(true)) return;
  const ssize_t n = ::write(STDERR_FILENO, kCrashLine, sizeof kCrashLine - 1);
  (void)n;
}

// What was installed before (a sanitizer's reporter, say) still gets its turn.
struct sigaction g_previous[NSIG];

void OnFatalSignal(int signo, siginfo_t* info, void* context) {
  WriteCrashLineOnce();
  const struct sigaction& previous = g_previous[signo];
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signo, info, context);
  } else if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL &&
             previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr) {
    previous.sa_handler(signo);
  }
  // SA_RESETHAND has restored the default action and SA_NODEFER leaves the signal
  // unblocked, so this ends the process the way the signal itself would have.
  ::raise(signo);
  ::_exit(128 + signo);
}

[[noreturn]] void OnTerminate() {
  WriteCrashLineOnce();
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGABRT, &sa, nullptr);
  std::abort();
}

void OnShutdownSignal(int signo) {
  if (g_shutdownCount.fetch_add(1) > 0) ::_exit(128 + signo);  // the second one: no waiting
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  const ssize_t n = ::write(g_wakeWrite, &byte, 1);
  (void)n;
  errno = savedErrno;
}

void RelayShutdownSignals(int readFd) {
  ::pthread_setname_np(::pthread_self(), "signal relay");
  for (;;) {
    unsigned char byte = 0;
    const ssize_t n = ::read(readFd, &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    const int signo = byte;
    const char* name = signo == SIGTERM ? "SIGTERM" : signo == SIGINT ? "SIGINT" : "SIGHUP";
    g_shutdownSignalName.store(name);
    DebugOutput(std::string("Received ") + name + ", closing the main window");
    if (!MessageLoop::PostToMain(kMsgClose, 0, 0)) {
      // Nothing would ever act on the signal; end as its default action would.
      DebugOutput("There is no main window, exiting");
      ExitProcess(128 + signo);
    }
  }
}

}  // namespace

void InstallCrashHandler() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;

  stack_t altStack{};
  altStack.ss_sp = g_altStack;
  altStack.ss_size = sizeof g_altStack;
  ::sigaltstack(&altStack, nullptr);

  struct sigaction sa {};
  sa.sa_sigaction = OnFatalSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_NODEFER | SA_ONSTACK;
  for (int signo : kFatalSignals) ::sigaction(signo, &sa, &g_previous[signo]);
  std::set_terminate(OnTerminate);
}

void InstallShutdownSignals() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    DebugOutput("Shutdown signals not installed: no pipe");
    return;
  }
  // A full pipe must never block the handler; one byte is all that matters anyway.
  ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
  g_wakeWrite = fds[1];

  // The relay starts with the shutdown signals blocked, so they never interrupt it.
  sigset_t block;
  sigset_t previous;
  sigemptyset(&block);
  for (int signo : kShutdownSignals) sigaddset(&block, signo);
  ::pthread_sigmask(SIG_BLOCK, &block, &previous);
  try {
    std::thread(RelayShutdownSignals, fds[0]).detach();
  } catch (const std::system_error& e) {
    DebugOutput(std::string("Shutdown signals not installed: ") + e.what());
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return;
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);

  struct sigaction sa {};
  sa.sa_handler = OnShutdownSignal;
  sigemptyset(&sa.sa_mask);
  for (int signo : kShutdownSignals) sigaddset(&sa.sa_mask, signo);  // one handler at a time
  sa.sa_flags = SA_RESTART;
  for (int signo : kShutdownSignals) ::sigaction(signo, &sa, nullptr);
}

const char* ShutdownSignalName() { return g_shutdownSignalName.load(); }

// Static destructors are skipped on purpose: threads that are still running (a file watcher,
// a logging thread) would otherwise meet torn-down objects.
void ExitProcess(int status) {
  std::cout.flush();
  std::cerr.flush();
  std::clog.flush();
  std::fflush(nullptr);
  ::_exit(status & 0xFF);
}

void DisableCoreFiles() {
  struct rlimit none {};
  ::setrlimit(RLIMIT_CORE, &none);
}

}  // namespace platform
