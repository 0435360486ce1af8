// A camera that drops off the network and comes back, with the real 15 s online-check period:
// Vestrel notices the loss, logs in again and the next face is written.
#include <gtest/gtest.h>

#include "tests/e2e/E2eSite.h"

namespace e2e {
namespace {

TEST(ReconnectTest, CameraThatGoesOfflineIsLoggedInAgainAndLaterFacesArrive) {
  Site site;
  Camera camera;
  site.WriteSettings();
  site.WriteDevInfo({Site::Entry(camera, "1001")});
  ASSERT_TRUE(site.StartVestrel());
  ASSERT_TRUE(camera.WaitForOutput("channel open", 15000)) << site.Stderr();
  ASSERT_TRUE(camera.Send("offline 3"));
  // Loss is seen at the next check (up to 15 s), then one period to announce the reconnect
  // and one to log in: about 30 to 45 s with the real period.
  ASSERT_TRUE(camera.WaitForOutput("channel open", 75000, 2)) << camera.Output() << site.Stderr();
  ASSERT_TRUE(camera.Send("face id=77 jpeg=" + std::string(VESTREL_TEST_DATA_DIR) +
                          "/face-small.jpg"));
  ASSERT_TRUE(site.WaitForEventFiles(1, 15000)) << site.Log();
  EXPECT_NE(site.EventFiles()[0].find("/1001_77_"), std::string::npos);
  EXPECT_EQ(site.StopVestrel(), 0);
  EXPECT_GE(CountOccurrences(camera.Output(), "login user=admin"), 2);
}

}  // namespace
}  // namespace e2e
