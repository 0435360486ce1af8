#include "device/HikNetDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "tests/support/DebugOutputCapture.h"
#include "tests/support/FakeDeviceSdk.h"
#include "platform/MessageLoop.h"

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

constexpr int kShortPeriodMs = 50;
// Longer than every bounded wait of the tests, so only an event can wake the thread in time.
constexpr int kLongPeriodMs = 20000;
constexpr auto kBlockedFor = std::chrono::milliseconds(200);
constexpr auto kBound = std::chrono::milliseconds(FakeDeviceSdk::kWaitBoundMs);

void RecordState(int state, void* user) {
  static_cast<FakeDeviceSdk*>(user)->Note("notify " + std::to_string(state));
}

void RecordOther(int state, void* user) {
  static_cast<FakeDeviceSdk*>(user)->Note("other " + std::to_string(state));
}

// The calls that tell the connection's story: logins, logouts, checks and notifications.
std::vector<std::string> Story(const std::vector<std::string>& calls) {
  std::vector<std::string> story;
  for (const std::string& c : calls) {
    for (const char* prefix : {"Login", "Logout", "Check", "notify", "other", "heartbeat"}) {
      if (c.rfind(prefix, 0) == 0) {
        story.push_back(c);
        break;
      }
    }
  }
  return story;
}

using Answer = FakeDeviceSdk::LoginAnswer;

class NotingImpl : public CHikNetImpl {
 public:
  NotingImpl(CHikNetDevice* device, FakeDeviceSdk& sdk) : CHikNetImpl(device), sdk_(sdk) {}
  ~NotingImpl() override { sdk_.Note("impl deleted"); }
  void OnHeartbeat() override { sdk_.Note("heartbeat"); }

 private:
  FakeDeviceSdk& sdk_;
};

class HikNetDeviceTest : public testing::Test {
 protected:
  ~HikNetDeviceTest() override {
    sdk.ReleaseLogins();
    if (device != nullptr) {
      device->Stop();
      device->ExternalRelease();
    }
  }

  // A device with its configuration and a recording listener, without a thread.
  CHikNetDevice* MakeDevice(int periodMs) {
    device = new CHikNetDevice(sdk, periodMs);
    device->SetConfig(DeviceConfig{"", "127.0.0.2", 8000, "admin", "secret"});
    device->CreateEvents();
    EXPECT_EQ(0, device->AddListener(&RecordState, &sdk));
    return device;
  }

  void StartThread() {
    device->StartThread();
    device->autoReconnect = 1;
  }

  FakeDeviceSdk sdk;
  CHikNetDevice* device = nullptr;
};

// ---- Login ----------------------------------------------------------------------------------

TEST_F(HikNetDeviceTest, LoginPassesTheConfigurationAtTheFieldOffsets) {
  MakeDevice(kLongPeriodMs);
  DeviceConfig config{"", "127.0.0.2", 0x12345, "admin", "secret"};  // port: low 16 bits travel
  device->SetConfig(config);
  sdk.SetDefaultLogin(Answer{-1, 7});
  device->Login();

  std::vector<uint8_t> info = sdk.LastLoginInfo();
  ASSERT_EQ(400u, info.size());
  EXPECT_EQ("127.0.0.2", std::string(reinterpret_cast<const char*>(&info[0])));
  EXPECT_EQ(0x45, info[130]);
  EXPECT_EQ(0x23, info[131]);
  EXPECT_EQ("admin", std::string(reinterpret_cast<const char*>(&info[132])));
  EXPECT_EQ("secret", std::string(reinterpret_cast<const char*>(&info[196])));
  EXPECT_EQ(std::vector<uint8_t>(4, 0), std::vector<uint8_t>(&info[268], &info[272]));

  // Over-long texts are cut at the end of their fields and never spill into the next one.
  config.Ip = std::string(200, 'a');
  config.UserName = std::string(70, 'u');
  config.Password = std::string(70, 'p');
  device->SetConfig(config);
  device->Login();
  info = sdk.LastLoginInfo();
  EXPECT_EQ(std::vector<uint8_t>(129, 'a'), std::vector<uint8_t>(&info[0], &info[129]));
  EXPECT_EQ(0, info[129]);
  EXPECT_EQ(std::vector<uint8_t>(64, 'u'), std::vector<uint8_t>(&info[132], &info[196]));
  EXPECT_EQ(std::vector<uint8_t>(64, 'p'), std::vector<uint8_t>(&info[196], &info[260]));
  EXPECT_EQ(std::vector<uint8_t>(140, 0), std::vector<uint8_t>(&info[260], &info[400]));
}

TEST_F(HikNetDeviceTest, EachLoginErrorHasItsOwnReport) {
  MakeDevice(kLongPeriodMs);
  const struct {
    uint32_t code;
    const char* line;
  } cases[] = {{1, "Password error!"},
               {5, "Over maximum link!"},
               {6, "Net device version mismatch!"},
               {42, "Login Network device failed: 42"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    sdk.SetDefaultLogin(Answer{-1, c.code});
    DebugOutputCapture output;
    EXPECT_EQ(-1, device->Login());
    EXPECT_THAT(output.Take(), ElementsAre(c.line));
    EXPECT_EQ(-1, device->userId.load());
  }
  EXPECT_EQ(0, sdk.Count("notify"));

  // An unreachable device is reported to the listeners only.
  sdk.SetDefaultLogin(Answer{-1, 7});
  DebugOutputCapture output;
  EXPECT_EQ(-1, device->Login());
  EXPECT_THAT(output.Take(), testing::IsEmpty());
  EXPECT_EQ(1, sdk.Count("notify 0"));
}

TEST_F(HikNetDeviceTest, SuccessfulLoginNotifiesOnlineAndSetsTheLoginEvent) {
  MakeDevice(kLongPeriodMs);
  sdk.SetDefaultLogin(Answer{3});
  EXPECT_EQ(0, device->Login());
  EXPECT_EQ(3, device->userId.load());
  EXPECT_TRUE(device->loginEvent->Wait(0));
  // A second login ends the first one first.
  EXPECT_EQ(0, device->Login());
  EXPECT_THAT(Story(sdk.Calls()),
              ElementsAre("Login", "notify 2", "Logout 3", "notify 0", "Login", "notify 2"));
}

// ---- Channel table --------------------------------------------------------------------------

std::vector<uint8_t> ChannelConfig() {
  std::vector<uint8_t> bytes(50792, 0);
  bytes[15] = 0x7f;  // neighbours of the fields read must not leak in
  bytes[16] = 33;    // dwStartDChan
  bytes[20] = 1;     // byAnalogChanEnable[0..2]
  bytes[21] = 0;
  bytes[22] = 1;
  bytes[23] = 1;
  bytes[19028 + 4] = 1;  // struStreamMode[0], byEnable is the entry's fifth byte
  bytes[19028 + 496 + 3] = 1;
  bytes[19028 + 496 + 5] = 1;      // struStreamMode[1] stays disabled
  bytes[19028 + 2 * 496 + 4] = 1;  // beyond the IP channel count
  return bytes;
}

void ExpectEntry(const ChannelEntry& entry, int number, const std::string& name, int enabled) {
  EXPECT_EQ(number, entry.number);
  EXPECT_EQ(name, entry.name);
  EXPECT_EQ(enabled, entry.enabled);
}

TEST_F(HikNetDeviceTest, ChannelTableComesFromLoginAndConfiguration) {
  MakeDevice(kLongPeriodMs);
  sdk.SetConfig(true, ChannelConfig());
  sdk.QueueLogin(Answer{1, 0, 3, 5, 2, 40});  // 3 analog from 5, 2 IP, first digital 40
  ASSERT_EQ(0, device->Login());

  EXPECT_EQ(1, sdk.Count("GetConfig 1 1062 0 50792"));
  EXPECT_EQ(0, sdk.Count("GetConfig 1 1062 0 50792 dirty"));
  EXPECT_NE(0, device->ipConfigLoaded);
  EXPECT_EQ(3, device->analogChannelCount);
  EXPECT_EQ(5, device->firstAnalogChannel);
  EXPECT_EQ(2, device->ipChannelCount);
  EXPECT_EQ(40, device->firstDigitalChannel);
  EXPECT_THAT(device->presentChannels, ElementsAre(0, 1, 2, 32, 33));

  ExpectEntry(device->channels[0], 5, "camera5", 1);
  ExpectEntry(device->channels[1], 6, "camera6", 0);
  ExpectEntry(device->channels[2], 7, "camera7", 1);
  for (int i = 3; i < 32; ++i) ExpectEntry(device->channels[i], -1, "", 0);
  ExpectEntry(device->channels[32], 33, "IP Camera 1", 1);
  ExpectEntry(device->channels[33], 34, "IP Camera 2", 0);
  for (int i = 34; i < 64; ++i) ExpectEntry(device->channels[i], -1, "", 0);
  EXPECT_EQ(255, device->channels[0].reservedByte);
  EXPECT_EQ(0, device->channels[0].reservedInt);
}

TEST_F(HikNetDeviceTest, FailedConfigurationKeepsIpEntriesAndEnablesAnalogChannels) {
  MakeDevice(kLongPeriodMs);
  sdk.SetConfig(true, ChannelConfig());
  sdk.QueueLogin(Answer{1, 0, 3, 1, 2, 0});
  ASSERT_EQ(0, device->Login());
  // Fewer IP channels: the dropped entry loses number and enable but keeps its name.
  sdk.QueueLogin(Answer{1, 0, 3, 1, 1, 0});
  ASSERT_EQ(0, device->Login());
  ExpectEntry(device->channels[33], -1, "IP Camera 2", 0);

  sdk.SetConfig(false);
  sdk.QueueLogin(Answer{1, 0, 0, 1, 2, 0});
  ASSERT_EQ(0, device->Login());
  EXPECT_EQ(0, device->ipConfigLoaded);
  EXPECT_TRUE(device->presentChannels.empty());
  for (int i = 0; i < 32; ++i) ExpectEntry(device->channels[i], -1, "", 0);
  ExpectEntry(device->channels[32], 33, "IP Camera 1", 1);
  ExpectEntry(device->channels[33], -1, "IP Camera 2", 0);

  sdk.QueueLogin(Answer{1, 0, 2, 1, 2, 0});
  ASSERT_EQ(0, device->Login());
  EXPECT_THAT(device->presentChannels, ElementsAre(0, 1));
  ExpectEntry(device->channels[0], 1, "camera1", 1);
  ExpectEntry(device->channels[1], 2, "camera2", 1);
}

// ---- Listeners ------------------------------------------------------------------------------

TEST_F(HikNetDeviceTest, ListenersAreKeyedByTheirCallbackFunction) {
  MakeDevice(kLongPeriodMs);
  int other = 0;
  EXPECT_EQ(-1, device->AddListener(&RecordState, &other));
  EXPECT_EQ(-1, device->AddListener(nullptr, &other));
  EXPECT_EQ(0, device->AddListener(&RecordOther, &sdk));
  sdk.SetDefaultLogin(Answer{-1, 7});
  device->Login();
  EXPECT_THAT(Story(sdk.Calls()), ElementsAre("Login", "notify 0", "other 0"));

  EXPECT_EQ(0, device->RemoveListener(&RecordState, &other));  // user pointer not compared
  EXPECT_EQ(-1, device->RemoveListener(&RecordState, &sdk));
  device->Login();
  EXPECT_THAT(Story(sdk.Calls()), ElementsAre("Login", "notify 0", "other 0", "Login", "other 0"));
}

// ---- Device thread --------------------------------------------------------------------------

TEST(HikNetDeviceThreadProc, NeedsADevice) {
  EXPECT_EQ(1u, CHikNetDevice::DeviceThreadProc(nullptr));
}

TEST_F(HikNetDeviceTest, RefusedPasswordIsRetriedEverySecondTurn) {
  MakeDevice(kShortPeriodMs);
  sdk.SetDefaultLogin(Answer{-1, 1});
  sdk.SetDefaultCheck(0, 0x65);
  DebugOutputCapture output;
  EXPECT_EQ(-1, device->Login());
  StartThread();
  ASSERT_TRUE(sdk.WaitForCount("notify", 4));
  device->Stop();

  // The first check fails without a logout or a notification; then the thread alternates.
  const std::vector<std::string> story = Story(sdk.Calls());
  ASSERT_GE(story.size(), 6u);
  EXPECT_THAT(std::vector<std::string>(story.begin(), story.begin() + 6),
              ElementsAre("Login", "Check -1 20005", "notify 1", "Login", "notify 0", "notify 1"));
  const char* const cycle[] = {"notify 1", "Login", "notify 0"};
  for (std::size_t i = 2; i < story.size(); ++i) EXPECT_EQ(cycle[(i - 2) % 3], story[i]) << i;

  const int logins = sdk.Count("Login");
  std::vector<std::string> expected(logins + 1, "Password error!");
  expected[1] = "=====00000065====";
  EXPECT_THAT(output.Take(), ElementsAreArray(expected));
}

TEST_F(HikNetDeviceTest, LostDeviceIsLoggedOutAndLoggedInAgain) {
  MakeDevice(kShortPeriodMs);
  device->impl.reset(new NotingImpl(device, sdk));
  sdk.QueueLogin(Answer{5});
  sdk.QueueLogin(Answer{6});
  sdk.QueueCheck(1);
  sdk.QueueCheck(0);
  sdk.SetDefaultCheck(1, 7);
  DebugOutputCapture output;
  ASSERT_EQ(0, device->Login());
  StartThread();
  ASSERT_TRUE(sdk.WaitForCount("Check 6", 1));
  device->Stop();

  const std::vector<std::string> story = Story(sdk.Calls());
  ASSERT_GE(story.size(), 15u);
  EXPECT_THAT(std::vector<std::string>(story.begin(), story.begin() + 13),
              ElementsAre("Login", "notify 2", "Check 5 20005", "heartbeat", "Check 5 20005",
                          "Logout 5", "notify 0", "notify 0", "notify 1", "Login", "notify 2",
                          "notify 2", "Check 6 20005"));
  EXPECT_THAT(std::vector<std::string>(story.end() - 2, story.end()),
              ElementsAre("Logout 6", "notify 0"));
  EXPECT_THAT(output.Take(), ElementsAre("=====00000007===="));
}

TEST_F(HikNetDeviceTest, SuccessfulLoginWakesTheThreadForACheck) {
  MakeDevice(kLongPeriodMs);
  StartThread();
  sdk.SetDefaultLogin(Answer{2});
  ASSERT_EQ(0, device->Login());
  EXPECT_TRUE(sdk.WaitForCount("Check 2", 1));
}

TEST_F(HikNetDeviceTest, WithoutReconnectAnOfflineDeviceStaysOffline) {
  MakeDevice(kShortPeriodMs);
  sdk.SetDefaultLogin(Answer{4});
  sdk.SetDefaultCheck(0, 7);
  ASSERT_EQ(0, device->Login());
  device->StartThread();  // autoReconnect stays 0
  ASSERT_TRUE(sdk.WaitForCount("Logout 4", 1));
  platform::SleepMs(10 * kShortPeriodMs);
  EXPECT_EQ(1, sdk.Count("Login"));
  EXPECT_EQ(0, sdk.Count("notify 1"));

  device->autoReconnect = 1;
  EXPECT_TRUE(sdk.WaitForCount("Login", 2));
}

TEST_F(HikNetDeviceTest, StopBeforeAnyLoginEndsTheThreadQuietly) {
  MakeDevice(kLongPeriodMs);
  StartThread();
  auto stopped = std::async(std::launch::async, [this] { device->Stop(); });
  ASSERT_EQ(std::future_status::ready, stopped.wait_for(kBound));
  EXPECT_TRUE(device->thread->Join(0));
  EXPECT_EQ(0u, device->thread->ExitCode());
  EXPECT_EQ(0, sdk.Count("Logout"));
  EXPECT_EQ(0, sdk.Count("notify"));
}

TEST_F(HikNetDeviceTest, StopLogsOutAndNothingFollows) {
  MakeDevice(kLongPeriodMs);
  StartThread();
  sdk.SetDefaultLogin(Answer{9});
  ASSERT_EQ(0, device->Login());
  ASSERT_TRUE(sdk.WaitForCount("Check 9", 1));
  device->Stop();
  EXPECT_TRUE(device->thread->Join(0));
  EXPECT_EQ(-1, device->userId.load());
  const std::vector<std::string> story = Story(sdk.Calls());
  EXPECT_THAT(std::vector<std::string>(story.end() - 2, story.end()),
              ElementsAre("Logout 9", "notify 0"));
  EXPECT_EQ(1, sdk.Count("Logout"));
}

TEST_F(HikNetDeviceTest, LastReleaseEndsTheThreadThenDeletesImplThenCleansUp) {
  MakeDevice(kLongPeriodMs);
  device->impl.reset(new NotingImpl(device, sdk));
  StartThread();
  sdk.SetDefaultLogin(Answer{4});
  ASSERT_EQ(0, device->Login());
  ASSERT_TRUE(sdk.WaitForCount("heartbeat", 1));
  device->ExternalRelease();  // without Stop: the thread's own exit logs out, unannounced
  device = nullptr;
  const std::vector<std::string> calls = sdk.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(calls.end() - 3, calls.end()),
              ElementsAre("Logout 4", "impl deleted", "Cleanup"));
  EXPECT_EQ(0, sdk.Count("notify 0"));
}

// ---- Login and logout never overlap ---------------------------------------------------------

TEST_F(HikNetDeviceTest, LogoutWaitsForALoginInProgress) {
  MakeDevice(kLongPeriodMs);
  sdk.SetDefaultLogin(Answer{3});
  sdk.BlockLogins();
  auto login = std::async(std::launch::async, [this] { return device->Login(); });
  ASSERT_TRUE(sdk.WaitForCount("Login", 1));
  auto logout = std::async(std::launch::async, [this] { return device->Logout(); });
  EXPECT_EQ(std::future_status::timeout, logout.wait_for(kBlockedFor));
  sdk.ReleaseLogins();
  ASSERT_EQ(std::future_status::ready, logout.wait_for(kBound));
  EXPECT_EQ(0, login.get());
  EXPECT_EQ(0, sdk.Overlaps());
  EXPECT_EQ(-1, device->userId.load());
  EXPECT_THAT(Story(sdk.Calls()), ElementsAre("Login", "notify 2", "Logout 3", "notify 0"));
}

TEST_F(HikNetDeviceTest, StopDuringALoginOnTheThreadLeavesTheDeviceLoggedOut) {
  MakeDevice(kShortPeriodMs);
  sdk.QueueLogin(Answer{-1, 1});
  sdk.QueueLogin(Answer{8});
  sdk.SetDefaultCheck(0, 0x65);
  DebugOutputCapture output;  // keeps the expected error lines out of the test log
  ASSERT_EQ(-1, device->Login());
  sdk.BlockLogins();
  StartThread();
  ASSERT_TRUE(sdk.WaitForCount("Login", 2));
  sdk.SetDefaultCheck(1);

  auto stopped = std::async(std::launch::async, [this] { device->Stop(); });
  EXPECT_EQ(std::future_status::timeout, stopped.wait_for(kBlockedFor));
  sdk.ReleaseLogins();
  ASSERT_EQ(std::future_status::ready, stopped.wait_for(kBound));

  EXPECT_EQ(0, sdk.Overlaps());
  EXPECT_EQ(-1, device->userId.load());
  EXPECT_EQ(1, sdk.Count("Logout"));
  EXPECT_EQ(2, sdk.Count("notify 2"));
  const std::vector<std::string> story = Story(sdk.Calls());
  EXPECT_THAT(std::vector<std::string>(story.end() - 2, story.end()),
              ElementsAre("Logout 8", "notify 0"));
}

// Releases the blocked login when the main loop dispatches kRelease to it.
class ReleasingHandler : public platform::MessageHandler {
 public:
  static constexpr platform::MessageId kRelease = platform::kMsgUser + 1;
  explicit ReleasingHandler(FakeDeviceSdk& sdk) : sdk_(sdk) {}
  void HandleMessage(platform::MessageId message, platform::WParam, platform::LParam) override {
    if (message != kRelease) return;
    released = true;
    sdk_.ReleaseLogins();
  }
  bool released = false;

 private:
  FakeDeviceSdk& sdk_;
};

class MainLoopScope {
 public:
  explicit MainLoopScope(platform::MessageLoop* loop) { platform::MessageLoop::SetMain(loop); }
  ~MainLoopScope() { platform::MessageLoop::SetMain(nullptr); }
};

TEST_F(HikNetDeviceTest, StopServesTheMainLoopWhileWaitingForALogin) {
  platform::MessageLoop loop;
  MainLoopScope scope(&loop);
  ReleasingHandler handler(sdk);
  loop.Post(platform::kMsgClose, 0, 0);
  loop.RunModal(handler);  // makes handler the loop's dispatch target

  MakeDevice(kLongPeriodMs);
  StartThread();
  sdk.SetDefaultLogin(Answer{6});
  sdk.BlockLogins();
  auto login = std::async(std::launch::async, [this] { return device->Login(); });
  ASSERT_TRUE(sdk.WaitForCount("Login", 1));
  loop.Post(ReleasingHandler::kRelease, 0, 0);
  device->Stop();  // only the pumped message can release the login before the fake gives up
  EXPECT_TRUE(handler.released);
  EXPECT_EQ(0, login.get());
  EXPECT_EQ(-1, device->userId.load());
  EXPECT_EQ(1, sdk.Count("Logout 6"));
}

}  // namespace
