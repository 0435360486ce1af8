#include "platform/ModulePath.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "platform/FileSystem.h"
#include "platform/LocalTime.h"

namespace platform {
namespace {

TEST(ModulePathTest, NamesThisExecutable) {
  const std::string path = ModuleFileName();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "vestrel_platform_tests");
  EXPECT_TRUE(FileExists(path));
}

TEST(LocalTimeTest, BreaksDownInTheProcessTimeZone) {
  ::setenv("TZ", "UTC-2", 1);  // two hours east of UTC
  ::tzset();
  std::tm t{};
  ASSERT_TRUE(ToLocalTime(86400 + 3661, &t));
  EXPECT_EQ(t.tm_year, 70);
  EXPECT_EQ(t.tm_mon, 0);
  EXPECT_EQ(t.tm_mday, 2);
  EXPECT_EQ(t.tm_hour, 3);
  EXPECT_EQ(t.tm_min, 1);
  EXPECT_EQ(t.tm_sec, 1);
  ::unsetenv("TZ");
  ::tzset();
  EXPECT_GT(Now(), 1600000000);
}

}  // namespace
}  // namespace platform
