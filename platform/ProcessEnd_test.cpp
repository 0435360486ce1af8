#include "platform/ProcessEnd.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <stdexcept>

#include "platform/MessageLoop.h"
#include "tests/support/TestChildProcess.h"
#include "platform/Thread.h"

namespace platform {
namespace {

constexpr char kCrashLine[] = "[tq] Unhandled exception, exiting...\n";
constexpr int kBound = 20000;  // ms; generous, the events themselves take milliseconds

class ClosingHandler : public MessageHandler {
 public:
  explicit ClosingHandler(bool hangOnClose) : hangOnClose_(hangOnClose) {}
  void HandleMessage(MessageId message, WParam, LParam) override {
    if (message != kMsgClose) return;
    testchild::Say("close handled");
    if (hangOnClose_) {
      SleepMs(kBound);  // a teardown that never finishes in time
      ExitProcess(9);
    }
  }

 private:
  const bool hangOnClose_;
};

// Child side: the main window's loop with the shutdown signals installed.
[[noreturn]] void RunMainLoopChild(bool hangOnClose) {
  MessageLoop loop;
  MessageLoop::SetMain(&loop);
  InstallShutdownSignals();
  ClosingHandler handler(hangOnClose);
  testchild::Say("ready");
  const int code = loop.RunModal(handler);
  testchild::Say("loop ended " + std::to_string(code));
  ExitProcess(code);
}

TEST(ProcessEndTest, ShutdownSignalClosesTheMainLoopAndExitsWithZero) {
  if (testchild::IsChild()) RunMainLoopChild(false);
  for (int signo : {SIGTERM, SIGINT, SIGHUP}) {
    testchild::TestChildProcess child;
    ASSERT_TRUE(child.Start());
    ASSERT_TRUE(child.WaitForOutput("ready", kBound)) << child.Stderr();
    child.Signal(signo);
    ASSERT_TRUE(child.WaitForExit(kBound)) << "signal " << signo << "\nstdout:\n"
                                           << child.Stdout() << "\nstderr:\n"
                                           << child.Stderr();
    EXPECT_TRUE(child.Exited(0)) << "signal " << signo << ": " << child.Describe();
    EXPECT_NE(child.Stdout().find("close handled\nloop ended 0\n"), std::string::npos)
        << child.Stdout();
  }
}

TEST(ProcessEndTest, SecondShutdownSignalEndsTheProcessAtOnce) {
  if (testchild::IsChild()) RunMainLoopChild(true);
  testchild::TestChildProcess child;
  ASSERT_TRUE(child.Start());
  ASSERT_TRUE(child.WaitForOutput("ready", kBound)) << child.Stderr();
  child.Signal(SIGTERM);
  ASSERT_TRUE(child.WaitForOutput("close handled", kBound));
  child.Signal(SIGTERM);
  ASSERT_TRUE(child.WaitForExit(kBound));
  EXPECT_TRUE(child.Exited(128 + SIGTERM)) << child.Describe();
}

TEST(ProcessEndTest, PostedQuitOfMinusOneGivesExitStatus255) {
  if (testchild::IsChild()) {
    MessageLoop loop;
    ClosingHandler handler(false);
    loop.PostQuit(-1);
    ExitProcess(loop.RunModal(handler));
  }
  testchild::TestChildProcess child;
  ASSERT_TRUE(child.Start());
  ASSERT_TRUE(child.WaitForExit(kBound));
  EXPECT_TRUE(child.Exited(255)) << child.Describe();
}

TEST(ProcessEndTest, FatalSignalWritesTheCrashLineAndDies) {
  if (testchild::IsChild()) {
    DisableCoreFiles();
    InstallCrashHandler();
    ::raise(SIGSEGV);
    ExitProcess(3);  // not reached when the handler works
  }
  testchild::TestChildProcess child;
  ASSERT_TRUE(child.Start());
  ASSERT_TRUE(child.WaitForExit(kBound));
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer's own report follows the line, and the sanitizer ends the process.
  EXPECT_EQ(child.Stderr().rfind(kCrashLine, 0), 0u) << child.Stderr();
  EXPECT_FALSE(child.Exited(0)) << child.Describe();
#else
  EXPECT_TRUE(child.EndedBySignal(SIGSEGV)) << child.Describe();
  EXPECT_EQ(child.Stderr(), kCrashLine);
#endif
}

unsigned Throw(void*) { throw std::runtime_error("escaped"); }

TEST(ProcessEndTest, ExceptionEscapingAThreadWritesTheCrashLineOnce) {
  if (testchild::IsChild()) {
    DisableCoreFiles();
    InstallCrashHandler();
    Thread thread("thrower", Throw, nullptr);
    thread.Resume();
    thread.Join(kBound);
    ExitProcess(3);
  }
  testchild::TestChildProcess child;
  ASSERT_TRUE(child.Start());
  ASSERT_TRUE(child.WaitForExit(kBound));
  EXPECT_TRUE(child.EndedBySignal(SIGABRT)) << child.Describe();
  EXPECT_EQ(child.Stderr(), kCrashLine);
}

}  // namespace
}  // namespace platform
