// Configuration files written by other systems must never bring Vestrel down: whatever they
// hold, the loaders refuse them with an ERROR line that names the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "config/DeviceListLoader.h"
#include "config/FaceServiceLoader.h"
#include "config/XmlAttributes.h"
#include "platform/Subprocess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

std::string Nested(int depth, const std::string& inner = "") {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<a>";
  text += inner;
  for (int i = 0; i < depth; ++i) text += "</a>";
  return text;
}

TEST(XmlNesting, CountsOpenElementsOnly) {
  EXPECT_TRUE(XmlNestingWithin(Nested(256), 256));
  EXPECT_FALSE(XmlNestingWithin(Nested(257), 256));
  // Self-closing elements, closed siblings, declarations, comments, CDATA and quoted values do
  // not nest.
  std::string flat = "<?xml version=\"1.0\"?><!DOCTYPE x><r>";
  for (int i = 0; i < 1000; ++i) flat += "<d a=\"<b><c>\" b='>'/><e></e><!-- <f> --><![CDATA[<g>]]>";
  flat += "</r>";
  EXPECT_TRUE(XmlNestingWithin(flat, 2));
  // Unclosed start tags count, even in a broken document.
  EXPECT_FALSE(XmlNestingWithin("<a><a><a>", 2));
  EXPECT_TRUE(XmlNestingWithin("", 0));
  EXPECT_TRUE(XmlNestingWithin("<a", 1));
}

class HostileFileTest : public ::testing::Test {
 protected:
  // Each loader on the same path: all must refuse it.
  void ExpectEveryLoaderRefuses(const std::string& path, const std::string& why) {
    DeviceTables tables;
    std::unique_ptr<FaceServiceConfig> face;
    EXPECT_FALSE(LoadDevInfo(path, tables)) << why;
    EXPECT_FALSE(LoadRemoteDevCfg(path, 1, tables)) << why;
    EXPECT_FALSE(LoadRemoteDevCfg(path, 0, tables)) << why;  // the watcher's compare mode
    EXPECT_FALSE(LoadVfrInfo(path, face)) << why;
    EXPECT_FALSE(LoadEdgeAiCfg(path, face)) << why;
    EXPECT_EQ(face, nullptr);
    int naming = 0;
    for (const auto& line : log_.Lines()) {
      if (line.level == LogCapture::kError && line.text.find(path) != std::string::npos) {
        ++naming;
      }
    }
    EXPECT_GE(naming, 5) << why;
    log_.Clear();
  }

  TempDir dir_;
  LogCapture log_;
};

TEST_F(HostileFileTest, AHundredThousandNestedElementsAreRefusedBeforeParsing) {
  const std::string path = dir_.Write(
      "DevInfo.xml", "<DevInfo><DeviceList>" + Nested(100000) + "</DeviceList></DevInfo>");
  ExpectEveryLoaderRefuses(path, "deep");
  DeviceTables tables;
  LoadDevInfo(path, tables);
  EXPECT_EQ(log_.CountContaining("elements nested deeper than 256 levels"), 1);
}

TEST_F(HostileFileTest, AFileBeyondTheSizeLimitIsRefused) {
  const std::string path = dir_.File("huge.xml");
  {
    std::ofstream out(path, std::ios::binary);
    out << "<DevInfo><DeviceList>";
    const std::string comment = "<!--" + std::string(1 << 20, 'x') + "-->";
    for (int i = 0; i < 17; ++i) out << comment;
    out << "</DeviceList></DevInfo>";
  }
  ExpectEveryLoaderRefuses(path, "huge");
  DeviceTables tables;
  LoadDevInfo(path, tables);
  EXPECT_EQ(log_.CountContaining("larger than"), 1);
}

TEST_F(HostileFileTest, GarbageFoldersFifosAndMissingFilesAreRefused) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 131 + 7) % 256);
  ExpectEveryLoaderRefuses(dir_.Write("garbage.xml", garbage), "garbage");
  ExpectEveryLoaderRefuses(dir_.Write("empty.xml", ""), "empty");
  std::filesystem::create_directory(dir_.File("folder.xml"));
  ExpectEveryLoaderRefuses(dir_.File("folder.xml"), "folder");
  ExpectEveryLoaderRefuses(dir_.File("missing.xml"), "missing");
  std::filesystem::create_symlink(dir_.File("gone.xml"), dir_.File("dangling.xml"));
  ExpectEveryLoaderRefuses(dir_.File("dangling.xml"), "dangling link");

  platform::Subprocess mkfifo;
  platform::Subprocess::Options options;
  options.arguments = {dir_.File("fifo.xml")};
  ASSERT_TRUE(mkfifo.Start("/usr/bin/mkfifo", options));
  ASSERT_TRUE(mkfifo.Wait(10000));
  ASSERT_EQ(mkfifo.ExitStatus(), 0);
  ExpectEveryLoaderRefuses(dir_.File("fifo.xml"), "fifo");  // and returns: nobody writes it
}

TEST_F(HostileFileTest, ANormalFileWithWindowsLineEndsStillLoads) {
  DeviceTables tables;
  ASSERT_TRUE(LoadDevInfo(dir_.Write("DevInfo.xml",
                                     "<?xml version=\"1.0\"?>\r\n<R>\r\n<DeviceList>\r\n"
                                     "<Device ip=\"10.0.0.1\" port=\"8000\" POSID=\"5\"/>\r\n"
                                     "</DeviceList>\r\n</R>\r\n"),
                          tables));
  EXPECT_EQ(tables.PosIdByIp.at("10.0.0.1"), "5");
}

}  // namespace
