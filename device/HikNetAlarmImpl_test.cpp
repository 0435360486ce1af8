#include "device/HikNetAlarmImpl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/DebugOutputCapture.h"
#include "tests/support/FakeDeviceSdk.h"
#include "device/HikNetDevice.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

constexpr int kLongPeriodMs = 20000;

class HikNetAlarmImplTest : public testing::Test {
 protected:
  HikNetAlarmImplTest() : device(new CHikNetDevice(sdk, kLongPeriodMs)) {
    CHikNetImplFactory& factory = CHikNetAlarmImplFactory::Instance();
    device->impl.reset(factory.Create(device));
    alarm = static_cast<CHikNetAlarmImpl*>(device->impl.get());
  }
  ~HikNetAlarmImplTest() override {
    device->Stop();
    device->ExternalRelease();
  }

  // The library calls of the channel and of the device's login.
  std::vector<std::string> Calls() const {
    std::vector<std::string> calls;
    for (const std::string& c : sdk.Calls()) {
      if (c.rfind("Setup", 0) == 0 || c.rfind("Close", 0) == 0 || c.rfind("Logout", 0) == 0) {
        calls.push_back(c);
      }
    }
    return calls;
  }

  FakeDeviceSdk sdk;
  CHikNetDevice* device;
  CHikNetAlarmImpl* alarm;
};

TEST_F(HikNetAlarmImplTest, FactoryMakesAClosedChannelListeningToTheDevice) {
  EXPECT_EQ(&CHikNetAlarmImplFactory::Instance(), &CHikNetAlarmImplFactory::Instance());
  ASSERT_NE(nullptr, alarm);
  EXPECT_EQ(device, alarm->device);
  EXPECT_EQ(0, alarm->status);
  EXPECT_EQ(-1, alarm->alarmHandle);
  EXPECT_EQ(1u, device->listeners.size());
}

TEST_F(HikNetAlarmImplTest, RepeatedOnlineReportOpensOnce) {
  alarm->OnStatusChanged(2);
  alarm->OnStatusChanged(2);
  EXPECT_THAT(Calls(), ElementsAre("Setup -1"));
  EXPECT_EQ(100, alarm->alarmHandle);
}

TEST_F(HikNetAlarmImplTest, OnlineOfflineOnlineOpensClosesOpens) {
  alarm->OnStatusChanged(2);
  alarm->OnStatusChanged(0);
  alarm->OnStatusChanged(0);
  alarm->OnStatusChanged(2);
  EXPECT_THAT(Calls(), ElementsAre("Setup -1", "Close 100", "Setup -1"));
  EXPECT_EQ(101, alarm->alarmHandle);
}

TEST_F(HikNetAlarmImplTest, ConnectingReportChangesNothing) {
  alarm->OnStatusChanged(2);
  alarm->OnStatusChanged(0);
  alarm->OnStatusChanged(1);
  EXPECT_EQ(1, alarm->status);
  EXPECT_THAT(Calls(), ElementsAre("Setup -1", "Close 100"));
  alarm->OnStatusChanged(2);
  EXPECT_THAT(Calls(), ElementsAre("Setup -1", "Close 100", "Setup -1"));
}

TEST_F(HikNetAlarmImplTest, CloseWithoutChannelCallsNothing) {
  EXPECT_EQ(-1, alarm->Close());
  EXPECT_THAT(sdk.Calls(), ElementsAre("Init"));
}

TEST_F(HikNetAlarmImplTest, FailedSetUpIsNotRetriedUntilTheDeviceComesBack) {
  sdk.SetSetupResult(-1, 23);
  DebugOutputCapture output;
  alarm->OnStatusChanged(2);
  EXPECT_EQ(2, alarm->status);
  EXPECT_EQ(-1, alarm->alarmHandle);
  alarm->OnStatusChanged(2);
  alarm->OnStatusChanged(0);  // nothing open: nothing to close
  EXPECT_THAT(Calls(), ElementsAre("Setup -1"));
  alarm->OnStatusChanged(2);
  EXPECT_THAT(Calls(), ElementsAre("Setup -1", "Setup -1"));
  EXPECT_THAT(output.Take(), ElementsAre("=====Failed to set up alarm channel: 23",
                                         "=====Failed to set up alarm channel: 23"));
}

TEST_F(HikNetAlarmImplTest, SetUpAsksForFaceAlarmsAndNothingElse) {
  ASSERT_EQ(0, alarm->Open());
  std::vector<uint8_t> expected(148, 0);
  expected[0] = 148;
  expected[5] = expected[6] = expected[7] = expected[8] = expected[9] = 1;
  expected[10] = 4;
  EXPECT_EQ(expected, sdk.LastSetup());
  EXPECT_THAT(Calls(), ElementsAre("Setup -1"));  // no subscription text
}

TEST_F(HikNetAlarmImplTest, OpenEndsAChannelStillOpen) {
  ASSERT_EQ(0, alarm->Open());
  ASSERT_EQ(0, alarm->Open());
  EXPECT_THAT(Calls(), ElementsAre("Setup -1", "Close 100", "Setup -1"));
}

TEST_F(HikNetAlarmImplTest, RefusedCloseIsReportedAndTheHandleDropped) {
  sdk.SetCloseResult(0, 17);
  ASSERT_EQ(0, alarm->Open());
  DebugOutputCapture output;
  EXPECT_EQ(0, alarm->Close());
  EXPECT_EQ(-1, alarm->alarmHandle);
  EXPECT_EQ(-1, alarm->Close());
  EXPECT_THAT(output.Take(), ElementsAre("=====Failed to close alarm channel: 17"));
}

TEST_F(HikNetAlarmImplTest, DeletionOnlyUnregisters) {
  ASSERT_EQ(0, alarm->Open());
  device->impl.reset();
  EXPECT_THAT(Calls(), ElementsAre("Setup -1"));
  EXPECT_THAT(device->listeners, IsEmpty());
}

TEST_F(HikNetAlarmImplTest, ChannelFollowsTheDeviceLogin) {
  sdk.SetDefaultLogin(FakeDeviceSdk::LoginAnswer{12});
  ASSERT_EQ(0, device->Login());
  EXPECT_THAT(Calls(), ElementsAre("Setup 12"));
  device->Logout();  // the library's logout comes before the channel's close
  EXPECT_THAT(Calls(), ElementsAre("Setup 12", "Logout 12", "Close 100"));
  ASSERT_EQ(0, device->Login());
  device->Stop();
  EXPECT_THAT(Calls(), ElementsAre("Setup 12", "Logout 12", "Close 100", "Setup 12", "Logout 12",
                                   "Close 101"));
}

}  // namespace
