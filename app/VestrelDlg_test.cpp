#include "app/VestrelDlg.h"

#include <gtest/gtest.h>

#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

// A site whose devices sit on a loopback port where nothing listens, so their logins fail at
// once and the dialog's start-up completes without real devices.
class VestrelDlgTest : public ::testing::Test {
 protected:
  std::string Exe() const { return site_.Path() + "bin/vestrel"; }
  void WriteRemoteSet(const std::string& port = "1") {
    site_.Write("cfg/Remote.xml", "<Cfg><NVR_PRTY><NVR IP=\"127.0.0.1\" Port=\"" + port +
                                      "\" ID=\"n1\" UserName=\"u\" Password=\"p\"/></NVR_PRTY>"
                                      "<POSUNITS_PRTY><PosUnitsDefinition>"
                                      "<PosUnit ID=\"5\" NVRID=\"n1\" Ch=\"1\"/>"
                                      "</PosUnitsDefinition></POSUNITS_PRTY></Cfg>");
    site_.Write("Config.ini", "[POSDataFormat]\nRemoteDevCfg=" + site_.File("cfg/Remote.xml") +
                                  "\nSrc_Path=" + site_.Path() + "events\n");
  }
  // Runs the modal loop until it ends, posting a close after the bound so it cannot hang.
  int RunLoop(CVestrelDlg& dialog) {
    loop_.SetTimer(99, 5000);
    struct Guard : platform::MessageHandler {
      CVestrelDlg& dialog;
      platform::MessageLoop& loop;
      Guard(CVestrelDlg& d, platform::MessageLoop& l) : dialog(d), loop(l) {}
      void HandleMessage(platform::MessageId m, platform::WParam w, platform::LParam l) override {
        if (m == platform::kMsgTimer && w == 99) {
          loop.Post(platform::kMsgClose, 0, 0);
          return;
        }
        dialog.HandleMessage(m, w, l);
      }
    } guard(dialog, loop_);
    return loop_.RunModal(guard);
  }

  TempDir site_;
  platform::MessageLoop loop_;
  LogCapture log_;
};

TEST_F(VestrelDlgTest, MissingDeviceListFailsTheStartWithQuitCodeMinusOne) {
  CVestrelDlg dialog(loop_, Exe(), "");
  EXPECT_FALSE(dialog.OnInitDialog());
  EXPECT_EQ(RunLoop(dialog), -1);
  dialog.OnDestroy();
  EXPECT_EQ(log_.Count("Initializing @1...", LogCapture::kInfo), 1);
  EXPECT_EQ(log_.Count("Initializing @2..."), 0);
  EXPECT_EQ(log_.CountContaining("Stop reason: start-up failure: the device list "), 1);
}

TEST_F(VestrelDlgTest, LocalStartLoadsDevicesAndKeepsRunning) {
  site_.Write("bin/DevInfo.xml",
              "<R><DeviceList><Device ip=\"127.0.0.1\" port=\"1\" POSID=\"3\"/></DeviceList></R>");
  CVestrelDlg dialog(loop_, Exe(), "");
  EXPECT_TRUE(dialog.OnInitDialog());
  loop_.Post(platform::kMsgClose, 0, 0);
  EXPECT_EQ(RunLoop(dialog), 0);
  dialog.OnDestroy();
  EXPECT_FALSE(dialog.Visible());
  EXPECT_EQ(log_.Count("Initializing @2...", LogCapture::kInfo), 1);
  EXPECT_EQ(log_.Count("Loading EgdeAiCfg.xml..."), 0);
}

TEST_F(VestrelDlgTest, RemoteSetLoadsTheEdgeFileBesideIt) {
  WriteRemoteSet();
  site_.Write("cfg/EdgeAiCfg.xml", "<E><ModeInfo type=\"7\"/></E>");
  CVestrelDlg dialog(loop_, Exe(), "");
  EXPECT_TRUE(dialog.OnInitDialog());
  EXPECT_EQ(dialog.Settings().EdgeAiCfgPath, site_.File("cfg/EdgeAiCfg.xml"));
  dialog.OnDestroy();
  EXPECT_EQ(log_.Count("Loading EgdeAiCfg.xml..."), 1);
  EXPECT_EQ(log_.Count("EgdeAiCfg.xml loaded...", LogCapture::kInfo), 1);
}

TEST_F(VestrelDlgTest, SecondEdgeReportEndsTheProgram) {
  WriteRemoteSet();
  CVestrelDlg dialog(loop_, Exe(), "");
  ASSERT_TRUE(dialog.OnInitDialog());
  loop_.Post(WM_CONFIG_CHANGED, 0, 0);  // the report that only reflects registration
  loop_.Post(WM_CONFIG_CHANGED, 0, 0);
  EXPECT_EQ(RunLoop(dialog), -1);
  dialog.OnDestroy();
  EXPECT_EQ(log_.Count("EgdeAiCfg.xml changed...", LogCapture::kInfo), 1);
}

TEST_F(VestrelDlgTest, RemoteFileReportsEndTheProgramOnlyWhenSomethingUsedChanged) {
  WriteRemoteSet();
  CVestrelDlg dialog(loop_, Exe(), "");
  ASSERT_TRUE(dialog.OnInitDialog());
  loop_.Post(WM_CONFIG_CHANGED, 1, 0);  // absorbed
  loop_.Post(WM_CONFIG_CHANGED, 1, 0);  // unchanged content: compare says nothing changed
  loop_.Post(WM_CONFIG_CHANGED, 7, 0);  // unknown word parameter: nothing
  loop_.Post(platform::kMsgClose, 0, 0);
  EXPECT_EQ(RunLoop(dialog), 0);
  WriteRemoteSet("2");  // the NVR's port changed
  loop_.Post(WM_CONFIG_CHANGED, 1, 0);
  EXPECT_EQ(RunLoop(dialog), -1);
  dialog.OnDestroy();
}

TEST_F(VestrelDlgTest, AboutCommandWritesTheAboutTextAndOtherCommandsDoNothing) {
  CVestrelDlg dialog(loop_, Exe(), "");
  testing::internal::CaptureStderr();
  dialog.HandleMessage(platform::kMsgSysCommand, kAboutCommandId | 0x3, 0);
  dialog.HandleMessage(platform::kMsgSysCommand, 0xF060, 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "About Vestrel: Vestrel, Version 1.0\n");
}

}  // namespace
