#include "app/AppSettings.h"

#include <gtest/gtest.h>

#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

class AppSettingsTest : public ::testing::Test {
 protected:
  // A site: SITE/bin/vestrel is the executable, SITE/<name> the settings file.
  std::string Exe() const { return site_.Path() + "bin/vestrel"; }
  void WriteSettings(const std::string& name, const std::string& body) {
    site_.Write(name, "[POSDataFormat]\n" + body);
  }
  TempDir site_;
};

TEST_F(AppSettingsTest, DerivedPathsComeFromTheExecutableFolder) {
  const AppSettings s = LoadAppSettings(Exe(), "");
  EXPECT_EQ(s.ProgramFolder, site_.Path() + "bin/");
  EXPECT_EQ(s.DevInfoPath, site_.Path() + "bin/DevInfo.xml");
  EXPECT_EQ(s.SettingsPath, site_.Path() + "Config.ini");
}

TEST_F(AppSettingsTest, DefaultFileIsConfigIniInTheParentFolderNotBesideTheExecutable) {
  WriteSettings("Config.ini", "VendorName=parent\n");
  WriteSettings("bin/Config.ini", "VendorName=beside\n");
  EXPECT_EQ(LoadAppSettings(Exe(), "").VendorName, "parent");
}

TEST_F(AppSettingsTest, ArgumentNamesAnotherFileInTheSameParentFolder) {
  WriteSettings("Config.ini", "VendorName=default\n");
  WriteSettings("site2.ini", "VendorName=second\n");
  const AppSettings s = LoadAppSettings(Exe(), "site2.ini");
  EXPECT_EQ(s.SettingsPath, site_.Path() + "site2.ini");
  EXPECT_EQ(s.VendorName, "second");
}

TEST_F(AppSettingsTest, ProgramInTheRootFolderReadsRelativeToTheWorkingDirectory) {
  const AppSettings s = LoadAppSettings("/vestrel", "");
  EXPECT_EQ(s.ProgramFolder, "/");
  EXPECT_EQ(s.SettingsPath, "Config.ini");
  EXPECT_EQ(LoadAppSettings("/bin/vestrel", "x.ini").SettingsPath, "/x.ini");
}

TEST_F(AppSettingsTest, MissingFileGivesEveryDefault) {
  const AppSettings s = LoadAppSettings(Exe(), "");
  EXPECT_EQ(s.Src_Path, "/");
  EXPECT_EQ(s.VendorName, "");
  EXPECT_EQ(s.RemoteDevCfg, "");
  EXPECT_EQ(s.MaxFaceWidth, 200);
  EXPECT_EQ(s.MaxFaceHeight, 200);
  EXPECT_EQ(s.MaxFaceSize, 12288);
  EXPECT_EQ(s.MaxCacheCount, 10);
}

TEST_F(AppSettingsTest, AbsentKeysKeepTheirDefaultsNextToPresentOnes) {
  WriteSettings("Config.ini", "MaxFaceWidth=320\nMaxCacheCount=-1\n");
  const AppSettings s = LoadAppSettings(Exe(), "");
  EXPECT_EQ(s.MaxFaceWidth, 320);
  EXPECT_EQ(s.MaxFaceHeight, 200);
  EXPECT_EQ(s.MaxFaceSize, 12288);
  EXPECT_EQ(s.MaxCacheCount, -1);  // compared as unsigned by the intake
}

TEST_F(AppSettingsTest, SrcPathGetsOneTrailingSeparator) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"/data/out", "/data/out/"},
               {"/data/out/", "/data/out/"},
               {"D:\\Out\\", "D:\\Out\\"},
               {"D:\\Out", "D:\\Out/"}};
  for (const auto& c : cases) {
    WriteSettings("Config.ini", std::string("Src_Path=") + c.in + "\n");
    EXPECT_EQ(LoadAppSettings(Exe(), "").Src_Path, c.out) << c.in;
  }
}

TEST_F(AppSettingsTest, TextValuesAreTrimmedAndUnquoted) {
  WriteSettings("Config.ini", "Src_Path =  \"/data/with space\"  \nVendorName='Shop & Co'\n");
  const AppSettings s = LoadAppSettings(Exe(), "");
  EXPECT_EQ(s.Src_Path, "/data/with space/");
  EXPECT_EQ(s.VendorName, "Shop & Co");
}

TEST_F(AppSettingsTest, VendorNameIsCutTo99CharactersButPathsAreKeptWhole) {
  const std::string vendor(150, 'v');
  const std::string longPath = "/" + std::string(300, 'p');
  WriteSettings("Config.ini", "VendorName=" + vendor + "\nSrc_Path=" + longPath +
                                  "\nRemoteDevCfg=" + longPath + "/Remote.xml\n");
  const AppSettings s = LoadAppSettings(Exe(), "");
  EXPECT_EQ(s.VendorName, vendor.substr(0, 99));
  EXPECT_EQ(s.Src_Path, longPath + "/");
  EXPECT_EQ(s.RemoteDevCfg, longPath + "/Remote.xml");
}

// Absent keeps one worker, as before the key existed; outside 1 to 16 is clamped with a line.
TEST_F(AppSettingsTest, FaceServiceWorkersAreClampedToOneToSixteen) {
  const struct {
    const char* line;
    int32_t workers;
    int logLines;
  } cases[] = {{"", 1, 0}, {"FaceServiceWorkers=4\n", 4, 0}, {"FaceServiceWorkers=16\n", 16, 0},
               {"FaceServiceWorkers=0\n", 1, 1}, {"FaceServiceWorkers=-3\n", 1, 1},
               {"FaceServiceWorkers=17\n", 16, 1}};
  for (const auto& c : cases) {
    LogCapture log;
    WriteSettings("Config.ini", c.line);
    EXPECT_EQ(LoadAppSettings(Exe(), "").FaceServiceWorkers, c.workers) << c.line;
    EXPECT_EQ(log.CountContaining("FaceServiceWorkers="), c.logLines) << c.line;
  }
}

TEST(DeriveEdgeAiCfgPath, UsesTheFolderOfTheRemoteFile) {
  EXPECT_EQ(DeriveEdgeAiCfgPath("/etc/cfg/Remote.xml"), "/etc/cfg/EdgeAiCfg.xml");
  EXPECT_EQ(DeriveEdgeAiCfgPath("cfg/Remote.xml"), "cfg/EdgeAiCfg.xml");
}

TEST(DeriveEdgeAiCfgPath, NoFolderPartGivesNothing) {
  EXPECT_EQ(DeriveEdgeAiCfgPath("Remote.xml"), "");
  EXPECT_EQ(DeriveEdgeAiCfgPath("/Remote.xml"), "");
  EXPECT_EQ(DeriveEdgeAiCfgPath("E:\\cfg\\Remote.xml"), "");
}

}  // namespace
