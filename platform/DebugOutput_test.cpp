#include "platform/DebugOutput.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "platform/ProcessEnd.h"
#include "tests/support/TestChildProcess.h"

namespace platform {
namespace {

constexpr int kThreads = 4;
constexpr int kLines = 150;

// Long lines (beyond the 4 KiB a pipe writes in one piece) make interleaving likely if the
// lines were not written whole.
std::string LineText(int thread, int line) {
  const std::size_t filler = static_cast<std::size_t>((line * 397 + thread * 131) % 9000);
  return "T" + std::to_string(thread) + " L" + std::to_string(line) + " " +
         std::string(filler, static_cast<char>('a' + thread));
}

TEST(DebugOutputTest, LinesFromManyThreadsStayWholeAndEndInOneNewline) {
  if (testchild::IsChild()) {
    DebugOutput("no line end");
    DebugOutput("own line end\n");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        for (int i = 0; i < kLines; ++i) DebugOutput(LineText(t, i));
      });
    }
    for (std::thread& t : threads) t.join();
    ExitProcess(0);
  }
  testchild::TestChildProcess child;
  ASSERT_TRUE(child.Start());
  ASSERT_TRUE(child.WaitForExit(60000));
  ASSERT_TRUE(child.Exited(0)) << child.Describe();

  std::istringstream in(child.Stderr());
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "no line end");
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "own line end");
  std::vector<int> next(kThreads, 0);
  int total = 0;
  while (std::getline(in, line)) {
    ASSERT_GE(line.size(), 4u);
    const int t = line[1] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 40);
    ASSERT_EQ(line, LineText(t, next[t])) << "thread " << t << " line " << next[t];
    ++next[t];
    ++total;
  }
  EXPECT_EQ(total, kThreads * kLines);
}

}  // namespace
}  // namespace platform
