#include "pipeline/FolderPath.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

class FolderPathTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }
  TempDir temp_;
};

TEST_F(FolderPathTest, CreatesEveryMissingLevelOfAFolderPath) {
  const std::string path = temp_ / "Events/Site1/";
  ASSERT_FALSE(FolderExists(path));
  EXPECT_TRUE(CreateFolderPath(path));
  EXPECT_TRUE(fs::is_directory(temp_ / "Events"));
  EXPECT_TRUE(fs::is_directory(temp_ / "Events/Site1"));
  EXPECT_TRUE(FolderExists(path));
  EXPECT_TRUE(CreateFolderPath(path)) << "existing levels are fine";
}

TEST_F(FolderPathTest, CreatesTheLastLevelOnlyWhenThePathEndsInASeparator) {
  EXPECT_TRUE(CreateFolderPath(temp_ / "a/b"));
  EXPECT_TRUE(fs::is_directory(temp_ / "a"));
  EXPECT_FALSE(fs::exists(temp_ / "a/b"));
}

TEST_F(FolderPathTest, DoubledSeparatorsAddNoLevel) {
  EXPECT_TRUE(CreateFolderPath(temp_.path() + "//x//y/"));
  EXPECT_TRUE(fs::is_directory(temp_ / "x/y"));
}

TEST_F(FolderPathTest, LeavesRelativeAndEmptyPathsAlone) {
  const std::string relative = "vestrel-relative-" + fs::path(temp_.path()).filename().string();
  EXPECT_FALSE(CreateFolderPath(relative + "/sub/"));
  EXPECT_FALSE(fs::exists(relative));
  EXPECT_FALSE(CreateFolderPath(""));
}

TEST_F(FolderPathTest, FailsWhenALevelIsARegularFile) {
  std::ofstream(temp_ / "file") << "x";
  EXPECT_FALSE(CreateFolderPath(temp_ / "file/sub/"));
  EXPECT_FALSE(FolderExists(temp_ / "file"));
  EXPECT_TRUE(FolderExists(temp_.path()));
  EXPECT_TRUE(FolderExists(temp_.path() + "/"));
  EXPECT_FALSE(FolderExists(temp_ / "missing"));
  EXPECT_FALSE(FolderExists(""));
}

}  // namespace
