#include "config/DeviceListLoader.h"

#include <gtest/gtest.h>

#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

class DevInfoTest : public ::testing::Test {
 protected:
  bool Load(const std::string& xml) { return LoadDevInfo(dir_.Write("DevInfo.xml", xml), tables_); }
  TempDir dir_;
  DeviceTables tables_;
  LogCapture log_;
};

TEST_F(DevInfoTest, ReadsDevicesPosIdsAndDefault) {
  ASSERT_TRUE(Load(R"(<Root>
      <DeviceList>
        <Device ip="10.0.0.9" port="8001" username="admin" password="pw1" POSID="1001"/>
        <Device ip="10.0.0.10" port="8002" username="op" password="pw2" POSID="1002"/>
      </DeviceList>
      <Default POSID="9"/>
    </Root>)"));
  ASSERT_EQ(tables_.DeviceConfigs.size(), 2u);
  // Byte-wise order of the address text: 10.0.0.10 before 10.0.0.9.
  EXPECT_EQ(tables_.DeviceConfigs.begin()->first, "10.0.0.10");
  const DeviceConfig& d = tables_.DeviceConfigs.at("10.0.0.9");
  EXPECT_EQ(d.Id, "");
  EXPECT_EQ(d.Port, 8001);
  EXPECT_EQ(d.UserName, "admin");
  EXPECT_EQ(d.Password, "pw1");
  EXPECT_EQ(tables_.PosIdByIp.at("10.0.0.10"), "1002");
  EXPECT_EQ(tables_.DefaultPosId, "9");
  EXPECT_EQ(log_.Count("device info loaded...", LogCapture::kInfo), 1);
}

TEST_F(DevInfoTest, LaterDeviceWithTheSameAddressReplacesTheEarlier) {
  ASSERT_TRUE(Load(R"(<R><DeviceList>
      <Device ip="10.0.0.2" port="1" username="a" password="x" POSID="1"/>
      <Device ip="10.0.0.2" port="2" username="b" password="y" POSID="2"/>
    </DeviceList></R>)"));
  ASSERT_EQ(tables_.DeviceConfigs.size(), 1u);
  EXPECT_EQ(tables_.DeviceConfigs.at("10.0.0.2").UserName, "b");
  EXPECT_EQ(tables_.DeviceConfigs.at("10.0.0.2").Port, 2);
  EXPECT_EQ(tables_.PosIdByIp.at("10.0.0.2"), "2");
}

// A POS id is part of a file name: one that is not a plain name skips its device or Default.
TEST_F(DevInfoTest, PosIdThatIsNotAPlainNameSkipsItsDevice) {
  const std::vector<std::string> refused = {"", "  ", "../x", "a/b", "a\\b", "a..b", "&#x0;"};
  for (const std::string& id : refused) {
    tables_ = DeviceTables();
    log_.Clear();
    ASSERT_TRUE(Load("<R><DeviceList><Device ip=\"10.0.0.2\" port=\"1\" POSID=\"" + id +
                     "\"/><Device ip=\"10.0.0.3\" port=\"1\" POSID=\" 7.1 \"/></DeviceList>"
                     "<Default POSID=\"" + id + "\"/></R>"))
        << id;
    EXPECT_EQ(tables_.DeviceConfigs.count("10.0.0.2"), 0u) << id;
    EXPECT_EQ(tables_.PosIdByIp.count("10.0.0.2"), 0u) << id;
    EXPECT_EQ(tables_.PosIdByIp.at("10.0.0.3"), " 7.1 ");
    EXPECT_EQ(tables_.DefaultPosId, "") << id;
    EXPECT_EQ(log_.CountContaining(kRefusedPosIdText), 2) << id;
  }
  EXPECT_EQ(log_.Lines().at(0).level, LogCapture::kError);
}

TEST_F(DevInfoTest, DefaultWithoutPosIdKeepsTheEarlierValue) {
  tables_.DefaultPosId = "earlier";
  ASSERT_TRUE(Load(R"(<R><DeviceList/><Default/></R>)"));
  EXPECT_EQ(tables_.DefaultPosId, "earlier");
}

TEST_F(DevInfoTest, EmptyDeviceListIsSuccessWithNoDevices) {
  EXPECT_TRUE(Load("<R><DeviceList/></R>"));
  EXPECT_TRUE(tables_.DeviceConfigs.empty());
}

TEST_F(DevInfoTest, NamesAreCaseSensitiveAndOtherElementsIgnored) {
  ASSERT_TRUE(Load(R"(<R><Junk/><DeviceList>
      <device ip="10.0.0.3"/><Device IP="10.0.0.4" ip="10.0.0.5" POSID="5"/><Other ip="10.0.0.6"/>
    </DeviceList></R>)"));
  ASSERT_EQ(tables_.DeviceConfigs.size(), 1u);
  EXPECT_EQ(tables_.DeviceConfigs.count("10.0.0.5"), 1u);
}

TEST_F(DevInfoTest, MissingDeviceListFails) {
  EXPECT_FALSE(Load("<R><Devices/></R>"));
  EXPECT_EQ(log_.Count("Failed to load device info...", LogCapture::kInfo), 1);
}

TEST_F(DevInfoTest, MalformedOrMissingFileLogsAnErrorAndFails) {
  EXPECT_FALSE(Load("<R><DeviceList></R>"));
  EXPECT_FALSE(Load(""));
  EXPECT_FALSE(LoadDevInfo(dir_.File("absent.xml"), tables_));
  EXPECT_FALSE(LoadDevInfo(dir_.Path(), tables_));  // a folder, not a file
  const auto lines = log_.Lines();
  ASSERT_EQ(lines.size(), 4u);
  for (const auto& l : lines) EXPECT_EQ(l.level, LogCapture::kError) << l.text;
  EXPECT_EQ(lines[0].text.rfind("Error reading end tag.", 0), 0u) << lines[0].text;
  EXPECT_EQ(lines[2].text.rfind("Failed to open file", 0), 0u) << lines[2].text;
}

TEST_F(DevInfoTest, PortIsReadLikePercentDWithADefaultForMissingOrInvalid) {
  ASSERT_TRUE(Load(R"(<R><DeviceList>
      <Device ip="a" port="  8005xyz" POSID="1"/>
      <Device ip="b" POSID="1"/>
      <Device ip="c" port="http" POSID="1"/>
      <Device ip="d" port="70000" POSID="1"/>
      <Device ip="e" port="-1" POSID="1"/>
      <Device ip="f&#x0A;ERROR forged" port="x&#x0D;y" POSID="1"/>
    </DeviceList></R>)"));
  EXPECT_EQ(tables_.DeviceConfigs.at("a").Port, 8005);
  EXPECT_EQ(log_.Count("Device f\\nERROR forged: port \"x\\ry\" missing or invalid, using 8000",
                       LogCapture::kInfo),
            1);
  for (const char* ip : {"b", "c", "d", "e"}) {
    EXPECT_EQ(tables_.DeviceConfigs.at(ip).Port, kDefaultDevicePort) << ip;
  }
  EXPECT_EQ(log_.CountContaining("missing or invalid, using 8000"), 5);
}

TEST_F(DevInfoTest, TextsLongerThanTheLoginFieldsSkipTheDevice) {
  const std::string longIp(129, '1');
  const std::string name64(64, 'u'), name65(65, 'u');
  ASSERT_TRUE(Load("<R><DeviceList>"
                   "<Device ip=\"" + longIp + "\" POSID=\"1\"/>"
                   "<Device ip=\"10.0.0.1\" username=\"" + name65 + "\" POSID=\"1\"/>"
                   "<Device ip=\"10.0.0.2\" password=\"" + name65 + "\" POSID=\"1\"/>"
                   "<Device ip=\"10.0.0.3\" username=\"" + name64 + "\" password=\"" + name64 +
                   "\" POSID=\"1\"/>"
                   "</DeviceList></R>"));
  ASSERT_EQ(tables_.DeviceConfigs.size(), 1u);
  EXPECT_EQ(tables_.DeviceConfigs.at("10.0.0.3").UserName, name64);
  EXPECT_EQ(tables_.PosIdByIp.count(longIp), 0u);
  EXPECT_EQ(log_.Count("Device 10.0.0.1 skipped: its user name is longer than the device SDK accepts",
                       LogCapture::kError),
            1);
  EXPECT_EQ(log_.CountContaining("skipped: its address"), 1);
  EXPECT_EQ(log_.CountContaining("skipped: its password"), 1);
}

constexpr const char* kRemote = R"(<Cfg>
  <NVR_PRTY>
    <NVR IP="10.1.0.2" Port="8000" ID="nvrA" UserName="admin" Password="a1"/>
    <NVR IP="10.1.0.10" Port="8001" ID="nvrB" UserName="admin" Password="b1"/>
  </NVR_PRTY>
  <POSUNITS_PRTY><PosUnitsDefinition>
    <PosUnit ID="2001" NVRID="nvrA" Ch="1"/>
    <PosUnit ID="2002" NVRID="nvrB" Ch="1"/>
    <PosUnit ID="2999" NVRID="nvrB" Ch="2"/>
  </PosUnitsDefinition></POSUNITS_PRTY>
</Cfg>)";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

class RemoteDevCfgTest : public ::testing::Test {
 protected:
  bool Load(const std::string& xml, int firstLoad) {
    return LoadRemoteDevCfg(dir_.Write("Remote.xml", xml), firstLoad, tables_);
  }
  // Loads the text in fill mode, then a second text in compare mode.
  bool Compare(const std::string& original, const std::string& edited) {
    EXPECT_TRUE(Load(original, 1));
    return Load(edited, 0);
  }
  TempDir dir_;
  DeviceTables tables_;
  LogCapture log_;
};

TEST_F(RemoteDevCfgTest, FillModeReadsNvrsAndPosUnitsOnChannelOne) {
  ASSERT_TRUE(Load(kRemote, 1));
  ASSERT_EQ(tables_.DeviceConfigs.size(), 2u);
  EXPECT_EQ(tables_.DeviceConfigs.at("10.1.0.10").Id, "nvrB");
  EXPECT_EQ(tables_.DeviceConfigs.at("10.1.0.10").Port, 8001);
  EXPECT_EQ(tables_.PosIdByIp.at("10.1.0.2"), "2001");
  EXPECT_EQ(tables_.PosIdByIp.at("10.1.0.10"), "2002");  // the Ch 2 unit is ignored
  EXPECT_EQ(tables_.DefaultPosId, "1");
  EXPECT_EQ(log_.Count("device info loaded...", LogCapture::kInfo), 1);
}

TEST_F(RemoteDevCfgTest, MissingRequiredElementsFail) {
  EXPECT_FALSE(Load("<Cfg><POSUNITS_PRTY><PosUnitsDefinition/></POSUNITS_PRTY></Cfg>", 1));
  EXPECT_FALSE(Load("<Cfg><NVR_PRTY/></Cfg>", 1));
  EXPECT_FALSE(Load("<Cfg><NVR_PRTY/><POSUNITS_PRTY/></Cfg>", 1));
  EXPECT_EQ(log_.Count("Failed to load device info...", LogCapture::kInfo), 3);
  EXPECT_FALSE(Load("<Cfg><NVR_PRTY>", 1));
  EXPECT_EQ(log_.Lines().back().level, LogCapture::kError);
}

TEST_F(RemoteDevCfgTest, TwoNvrsWithOneIdGiveThePosIdOnlyToTheFirstAddress) {
  const std::string xml = R"(<Cfg><NVR_PRTY>
      <NVR IP="10.1.0.9" ID="same"/><NVR IP="10.1.0.10" ID="same"/>
    </NVR_PRTY><POSUNITS_PRTY><PosUnitsDefinition>
      <PosUnit ID="3001" NVRID="same" Ch="1"/>
    </PosUnitsDefinition></POSUNITS_PRTY></Cfg>)";
  ASSERT_TRUE(Load(xml, 1));
  EXPECT_EQ(tables_.PosIdByIp.at("10.1.0.10"), "3001");
  EXPECT_EQ(tables_.PosIdByIp.count("10.1.0.9"), 0u);
  // The second NVR's empty POS id differs from the unit's, so even the unchanged file
  // reads as changed.
  EXPECT_FALSE(Load(xml, 0));
}

TEST_F(RemoteDevCfgTest, PosUnitWhosePosIdIsAPathIsSkippedInBothModes) {
  const std::string xml = Replaced(kRemote, "ID=\"2002\"", "ID=\"../../../opt/vestrel/bin/x\"");
  EXPECT_TRUE(Compare(xml, xml));
  EXPECT_EQ(tables_.PosIdByIp.count("10.1.0.10"), 0u);  // its events go under the Default
  EXPECT_EQ(log_.CountContaining("PosUnit of NVR nvrB skipped: POS id \"../../../opt"), 2);
}

TEST_F(RemoteDevCfgTest, CompareModeOfTheUnchangedFileReportsNothing) {
  EXPECT_TRUE(Compare(kRemote, kRemote));
}

TEST_F(RemoteDevCfgTest, CompareModeReportsAnAddedNvrWithoutALogLine) {
  const std::string edited =
      Replaced(kRemote, "</NVR_PRTY>", "<NVR IP=\"10.1.0.3\" Port=\"8000\" ID=\"nvrC\"/></NVR_PRTY>");
  ASSERT_TRUE(Load(kRemote, 1));
  log_.Clear();
  EXPECT_FALSE(Load(edited, 0));
  EXPECT_TRUE(log_.Lines().empty());
  EXPECT_EQ(tables_.DeviceConfigs.count("10.1.0.3"), 0u);
}

TEST_F(RemoteDevCfgTest, CompareModeReportsChangedLoginValues) {
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"Port=\"8001\"", "Port=\"8009\""},
           {"ID=\"nvrB\"", "ID=\"nvrX\""},
           {"Password=\"b1\"", "Password=\"b2\""},
           {"UserName=\"admin\" Password=\"b1\"", "UserName=\"root\" Password=\"b1\""}}) {
    const std::string edited = Replaced(kRemote, from, to);
    DeviceTables fresh;
    tables_ = fresh;
    EXPECT_FALSE(Compare(kRemote, edited)) << to;
  }
}

TEST_F(RemoteDevCfgTest, CompareModeIgnoresRemovedNvrsAndDisabledUnits) {
  std::string edited = Replaced(
      kRemote, "<NVR IP=\"10.1.0.10\" Port=\"8001\" ID=\"nvrB\" UserName=\"admin\" Password=\"b1\"/>",
      "");
  edited = Replaced(edited, "NVRID=\"nvrA\" Ch=\"1\"", "NVRID=\"nvrA\" Ch=\"0\"");
  EXPECT_TRUE(Compare(kRemote, edited));
}

TEST_F(RemoteDevCfgTest, CompareModeReportsAUnitMappedToAnotherPosId) {
  const std::string edited = Replaced(kRemote, "ID=\"2002\"", "ID=\"2003\"");
  EXPECT_FALSE(Compare(kRemote, edited));
}

TEST_F(RemoteDevCfgTest, CompareModeLeavesTheLiveTablesAlone) {
  // nvrB has no channel-one unit at first; the edit adds one with an empty POS id, which
  // compares equal to the missing entry without creating it.
  const std::string original =
      Replaced(kRemote, "ID=\"2002\" NVRID=\"nvrB\" Ch=\"1\"", "ID=\"2002\" NVRID=\"nvrB\" Ch=\"3\"");
  const std::string edited =
      Replaced(original, "</PosUnitsDefinition>",
               "<PosUnit ID=\"\" NVRID=\"nvrB\" Ch=\"1\"/></PosUnitsDefinition>");
  ASSERT_TRUE(Load(original, 1));
  const DeviceTables before = tables_;
  EXPECT_TRUE(Load(edited, 0));
  EXPECT_EQ(tables_.PosIdByIp, before.PosIdByIp);
  EXPECT_EQ(tables_.PosIdByIp.count("10.1.0.10"), 0u);
  EXPECT_EQ(tables_.DefaultPosId, "1");
}

}  // namespace
