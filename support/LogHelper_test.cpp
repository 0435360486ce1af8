// Each case runs in a fresh child process (a death-test re-execution of this binary), because
// the helper is created once per process and reads the Logger.properties beside the binary.
#include "support/LogHelper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/ModulePath.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::string BinaryFolder() { return fs::path(platform::ModuleFileName()).parent_path().string() + "/"; }
std::string PropertiesPath() { return BinaryFolder() + "Logger.properties"; }
std::string LogPath(const std::string& name) { return BinaryFolder() + name + ".log"; }

std::string Properties(const std::string& level, const std::string& logName) {
  return "log4cplus.rootLogger=" + level + ", FILE\n" +
         "log4cplus.logger.Vestrel=" + level + "\n" +
         "log4cplus.appender.FILE=log4cplus::FileAppender\n" +
         "log4cplus.appender.FILE.File=${VESTREL_PROGRAM_FOLDER}" + logName + ".log\n" +
         "log4cplus.appender.FILE.layout=log4cplus::PatternLayout\n" +
         "log4cplus.appender.FILE.layout.ConversionPattern=%p|%m%n\n";
}

void WriteProperties(const std::string& text) {
  const std::string tmp = PropertiesPath() + ".new";
  std::ofstream(tmp, std::ios::binary) << text;
  fs::rename(tmp, PropertiesPath());
}

class LogHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::error_code ec;
    fs::remove(PropertiesPath(), ec);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove(PropertiesPath(), ec);
  }
  // Sets up the properties and removes a stale log; the child process does the logging.
  void Prepare(const std::string& level, const std::string& logName) {
    std::error_code ec;
    fs::remove(LogPath(logName), ec);
    WriteProperties(Properties(level, logName));
  }
};

TEST_F(LogHelperTest, ConcurrentFirstUseCreatesOneHelper) {
  Prepare("DEBUG", "concurrent");
  EXPECT_EXIT(([&] {
        std::atomic<bool> go{false};
        CLogHelper* seen[2] = {nullptr, nullptr};
        std::thread a([&] {
          while (!go) std::this_thread::yield();
          seen[0] = CLogHelper::GetInstance();
          seen[0]->LogInfo("from a");
        });
        std::thread b([&] {
          while (!go) std::this_thread::yield();
          seen[1] = CLogHelper::GetInstance();
          seen[1]->LogInfo("from b");
        });
        go = true;
        a.join();
        b.join();
        std::_Exit(seen[0] != nullptr && seen[0] == seen[1] && seen[0] == CLogHelper::GetInstance()
                       ? 0
                       : 3);
      })(),
      ::testing::ExitedWithCode(0), "");
  const std::string log = ReadFileBytes(LogPath("concurrent"));
  EXPECT_NE(log.find("INFO|from a\n"), std::string::npos) << log;
  EXPECT_NE(log.find("INFO|from b\n"), std::string::npos) << log;
}

TEST_F(LogHelperTest, DisabledLevelProducesNoOutput) {
  Prepare("INFO", "levels");
  EXPECT_EXIT(([&] {
        CLogHelper* log = CLogHelper::GetInstance();
        log->LogDebug("hidden debug");
        log->LogDebugF("hidden %s", "formatted");
        log->LogInfo("shown info");
        log->LogErrorF("shown error %d", 7);
        std::_Exit(log->IsDebugEnabled() ? 3 : 0);
      })(),
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFileBytes(LogPath("levels")), "INFO|shown info\nERROR|shown error 7\n");
}

TEST_F(LogHelperTest, EmptyMessageGivesOneEmptyEvent) {
  Prepare("DEBUG", "empty");
  EXPECT_EXIT(([&] {
        CLogHelper::GetInstance()->LogDebug("");
        std::_Exit(0);
      })(),
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFileBytes(LogPath("empty")), "DEBUG|\n");
}

TEST_F(LogHelperTest, FormattedLinesAreCappedAt1023Characters) {
  Prepare("DEBUG", "capped");
  EXPECT_EXIT(([&] {
        const std::string big(5000, 'x');
        CLogHelper::GetInstance()->LogInfoF("%s", big.c_str());
        std::_Exit(0);
      })(),
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFileBytes(LogPath("capped")), "INFO|" + std::string(1023, 'x') + "\n");
}

TEST_F(LogHelperTest, EditOfPropertiesTakesEffectWhileRunning) {
  Prepare("INFO", "edited");
  EXPECT_EXIT(([&] {
        CLogHelper* log = CLogHelper::GetInstance();
        log->LogDebug("before edit");
        WriteProperties(Properties("DEBUG", "edited"));
        // Make the change visible to a watcher that compares modification times.
        fs::last_write_time(PropertiesPath(),
                            fs::file_time_type::clock::now() + std::chrono::seconds(2));
        // The watcher re-reads every 5 s; allow up to about 8 s.
        for (int i = 0; i < 40; ++i) {
          log->LogDebug("probe");
          if (ReadFileBytes(LogPath("edited")).find("DEBUG|probe") != std::string::npos) {
            std::_Exit(0);
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        std::_Exit(4);
      })(),
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFileBytes(LogPath("edited")).find("before edit"), std::string::npos);
}

TEST_F(LogHelperTest, PropertiesAreFoundFromAnotherWorkingDirectory) {
  Prepare("DEBUG", "elsewhere");
  TempDir elsewhere;
  const std::string folder = elsewhere.Path();
  EXPECT_EXIT(([&] {
        fs::current_path(folder);
        CLogHelper::GetInstance()->LogInfo("started elsewhere");
        std::_Exit(0);
      })(),
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFileBytes(LogPath("elsewhere")), "INFO|started elsewhere\n");
  EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(LogHelperTest, MissingPropertiesFileIsNoCrashAndNoOutput) {
  TempDir cwd;
  const std::string folder = cwd.Path();
  const auto before = std::distance(fs::directory_iterator(BinaryFolder()), {});
  EXPECT_EXIT(([&] {
        fs::current_path(folder);
        CLogHelper* log = CLogHelper::GetInstance();
        log->LogDebug("nowhere");
        log->LogInfo("nowhere");
        log->LogError("nowhere");
        std::_Exit(0);
      })(),
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(BinaryFolder()), {}), before);
  EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
