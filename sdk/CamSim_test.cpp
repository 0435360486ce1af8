// The simulator's command line and its ways of ending, as a test or demo drives it.
#include <gtest/gtest.h>

#include "tests/support/SdkTestFixture.h"

namespace sdktest {
namespace {

TEST(CamSimTest, BadArgumentsExitWithAMessage) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{}, "--listen IP:PORT is required"},
      {{"--listen", "127.0.0.1"}, "bad value for --listen"},
      {{"--listen", "127.0.0.1:70000"}, "bad value for --listen"},
      {{"--listen", "127.0.0.1:0", "--analog", "65"}, "bad value for --analog"},
      {{"--listen", "127.0.0.1:0", "--max-links"}, "--max-links needs a value"},
      {{"--listen", "127.0.0.1:0", "--frobnicate", "1"}, "unknown option --frobnicate"},
      {{"--listen", "127.0.0.1:0", "--ip-channels", "2", "--ip-disabled", "3"},
       "--ip-disabled names a channel beyond --ip-channels"},
      {{"--listen", "127.0.0.1:0", "--script", "/nonexistent/script.txt"}, "cannot read script"},
  };
  for (const Case& c : cases) {
    CamSimProcess camsim("127.0.0.1", c.args, false);
    EXPECT_NE(camsim.WaitForExit(), 0) << c.message;
    EXPECT_NE(camsim.Errors().find(c.message), std::string::npos) << camsim.Errors();
  }
  CamSimProcess help("127.0.0.1", {"--help"}, false);
  EXPECT_EQ(help.WaitForExit(), 0);
  EXPECT_NE(help.Output().find("Usage: vestrel-camsim --listen IP:PORT"), std::string::npos);
}

TEST(CamSimTest, BadCommandsAreReportedAndSkipped) {
  CamSimProcess camsim("127.0.0.50", {});
  ASSERT_TRUE(camsim.Started()) << camsim.Errors();
  const std::string jpeg = " jpeg=" + TestData("face-small.jpg");
  camsim.Command("dance");
  camsim.Command("face id=1" + jpeg + " time=2021-02-29T00:00:00");
  camsim.Command("face id=x" + jpeg);
  camsim.Command("face id=2 jpeg=/nonexistent.jpg");
  camsim.Command("wait -1");
  camsim.Command("  # a comment line");
  camsim.Command("face id=3" + jpeg + " abnormal=2");
  camsim.Command("face id=4" + jpeg + " time=2021-06-24T10:11:12");
  EXPECT_TRUE(camsim.WaitForLine("sent face id=4"));
  // Standard error is read on its own: wait for each report rather than take a snapshot.
  for (const char* report :
       {"stdin:1: unknown command 'dance'", "stdin:2: face: bad time", "stdin:3: face: bad id",
        "stdin:4: cannot read /nonexistent.jpg", "stdin:5: wait", "stdin:7: face: bad abnormal"}) {
    EXPECT_TRUE(camsim.WaitForError(report)) << report << "\n" << camsim.Errors();
  }
  EXPECT_EQ(camsim.Count("sent face id=1") + camsim.Count("sent face id=2") +
                camsim.Count("sent face id=3"),
            0);
  EXPECT_EQ(camsim.Stop(), 0);
}

TEST(CamSimTest, KeepsRunningAfterInputEndsAndStopsOnSigterm) {
  CamSimProcess camsim("127.0.0.51", {});
  ASSERT_TRUE(camsim.Started()) << camsim.Errors();
  camsim.CloseInput();
  EXPECT_EQ(camsim.WaitForExit(std::chrono::milliseconds(500)), -1);
  ASSERT_TRUE(NET_DVR_Init());
  EXPECT_GE(SdkTest::Login(camsim.Ip(), camsim.Port(), "admin", "admin"), 0);
  EXPECT_TRUE(camsim.WaitForLine("login user=admin"));
  EXPECT_EQ(camsim.Terminate(), 0) << camsim.Errors();
  NET_DVR_Cleanup();
}

}  // namespace
}  // namespace sdktest
