#include "platform/FileSystem.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {
namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "fs_test_XXXXXX";
    ASSERT_NE(::mkdtemp(&pattern[0]), nullptr);
    dir_ = pattern + "/";
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  std::vector<std::string> Names(const std::string& folder) const {
    std::vector<std::string> names;
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr) return names;
    while (dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    return names;
  }

  std::string Read(const std::string& path) {
    std::string contents;
    int code = -1;
    EXPECT_TRUE(ReadWholeFile(path, &contents, &code)) << path;
    EXPECT_EQ(code, 0);
    return contents;
  }

  std::string dir_;
};

TEST_F(FileSystemTest, AtomicWriteCreatesAndReplacesWithoutLeavingATempFile) {
  const std::string path = dir_ + "event.txt";
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(path, "first", 5, &error)) << error;
  EXPECT_EQ(Read(path), "first");
  ASSERT_TRUE(WriteFileAtomically(path, "second, longer", 14, &error)) << error;
  EXPECT_EQ(Read(path), "second, longer");
  ASSERT_TRUE(WriteFileAtomically(path, "", 0, nullptr));
  EXPECT_EQ(Read(path), "");
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"event.txt"});
}

TEST_F(FileSystemTest, FailedAtomicWriteRemovesItsTempFileAndSaysWhy) {
  // The final name is taken by a folder: the temporary file is written, the rename fails.
  const std::string path = dir_ + "taken";
  ASSERT_TRUE(MakeFolder(path));
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(path, "data", 4, &error));
  EXPECT_NE(error.find("taken"), std::string::npos) << error;
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"taken"});
  EXPECT_TRUE(FolderExists(path));

  error.clear();
  EXPECT_FALSE(WriteFileAtomically(dir_ + "missing/event.txt", "data", 4, &error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
}

TEST_F(FileSystemTest, OverlongPathIsRefusedNotShortened) {
  std::string path = dir_;
  while (path.size() <= MaxPathLength()) path += "long-folder-name/";
  path += "event.txt";
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(path, "x", 1, &error));
  EXPECT_NE(error.find("longer than the limit"), std::string::npos) << error;
  std::size_t written = 1;
  int code = 0;
  EXPECT_FALSE(WriteWholeFile(path, "x", 1, &written, &code));
  EXPECT_EQ(code, ENAMETOOLONG);
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(MakeFolder(path));
  EXPECT_TRUE(Names(dir_).empty());
  EXPECT_EQ(MaxPathLength(), 4095u);
}

TEST_F(FileSystemTest, WholeFileWriteAndReadReportErrorCodes) {
  const std::string path = dir_ + "tmpSrc.jpg";
  const std::string bytes("\xFF\xD8\0\x01", 4);
  std::size_t written = 0;
  int code = -1;
  ASSERT_TRUE(WriteWholeFile(path, bytes.data(), bytes.size(), &written, &code));
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(code, 0);
  ASSERT_TRUE(WriteWholeFile(path, "ab", 2, &written, &code));  // truncates
  EXPECT_EQ(Read(path), "ab");

  std::string contents = "old";
  EXPECT_FALSE(ReadWholeFile(dir_ + "absent", &contents, &code));
  EXPECT_EQ(code, ENOENT);
  EXPECT_TRUE(contents.empty());
  EXPECT_FALSE(ReadWholeFile(dir_, &contents, &code));
  EXPECT_EQ(code, EISDIR);
  EXPECT_FALSE(WriteWholeFile(dir_ + "absent/x", "a", 1, &written, &code));
  EXPECT_EQ(code, ENOENT);
}

TEST_F(FileSystemTest, FolderAndFileChecks) {
  EXPECT_TRUE(FolderExists(dir_));
  EXPECT_FALSE(FileExists(dir_));
  EXPECT_TRUE(MakeFolder(dir_ + "sub"));
  EXPECT_TRUE(MakeFolder(dir_ + "sub"));   // already there
  EXPECT_FALSE(MakeFolder(dir_ + "a/b"));  // one level only
  ASSERT_TRUE(WriteFileAtomically(dir_ + "f", "x", 1, nullptr));
  EXPECT_TRUE(FileExists(dir_ + "f"));
  EXPECT_FALSE(FolderExists(dir_ + "f"));
  EXPECT_FALSE(MakeFolder(dir_ + "f"));  // a file is in the way
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FolderExists(""));
}

}  // namespace
}  // namespace platform
