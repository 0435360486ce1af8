// Logins, the channel table, online checks and the library's bookkeeping, against real
// simulated devices.
#include <gtest/gtest.h>

#include <boost/asio.hpp>
#include <cstring>
#include <memory>
#include <thread>

#include "tests/support/SdkTestFixture.h"

namespace sdktest {
namespace {

// A loopback port on which nothing listens.
uint16_t ClosedPort() {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor acceptor(
      io, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
  return acceptor.local_endpoint().port();
}

using SdkLoginTest = SdkTest;

TEST_F(SdkLoginTest, LoginReportsChannelsAndTheIpBlockGivesEnables) {
  CamSimProcess camsim("127.0.0.2", {"--analog", "3", "--ip-channels", "4", "--analog-disabled",
                                     "2", "--ip-disabled", "1,3"});
  ASSERT_TRUE(camsim.Started()) << camsim.Errors();
  NET_DVR_DEVICEINFO_V40 info;
  const int32_t userId = Login(camsim, "admin", &info);
  ASSERT_GE(userId, 0) << NET_DVR_GetLastError();
  EXPECT_TRUE(camsim.WaitForLine("login user=admin"));
  EXPECT_EQ(info.struDeviceV30.byChanNum, 3);
  EXPECT_EQ(info.struDeviceV30.byStartChan, 1);
  EXPECT_EQ(info.struDeviceV30.byIPChanNum, 4);
  EXPECT_EQ(info.struDeviceV30.byStartDChan, 33);

  auto config = std::make_unique<NET_DVR_IPPARACFG_V40>();
  std::memset(config.get(), 0, sizeof *config);
  uint32_t returned = 0;
  ASSERT_TRUE(NET_DVR_GetDVRConfig(userId, NET_DVR_GET_IPPARACFG_V40, 0, config.get(),
                                   sizeof *config, &returned))
      << NET_DVR_GetLastError();
  EXPECT_EQ(returned, 50792u);
  EXPECT_EQ(config->dwStartDChan, 33u);
  const uint8_t analog[] = {1, 0, 1, 0};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(config->byAnalogChanEnable[i], analog[i]) << i;
  const uint8_t ip[] = {0, 1, 0, 1, 0};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(config->struStreamMode[i].uGetStream.struChanInfo.byEnable, ip[i]) << i;
  }
  // The enable flag sits at the fifth byte of each 496-byte entry from offset 19028.
  const auto* bytes = reinterpret_cast<const uint8_t*>(config.get());
  EXPECT_EQ(bytes[19028 + 496 * 1 + 4], 1);
  EXPECT_EQ(bytes[19028 + 496 * 2 + 4], 0);

  EXPECT_TRUE(NET_DVR_RemoteControl(userId, NET_DVR_CHECK_USER_STATUS, nullptr, 0));
  EXPECT_TRUE(NET_DVR_Logout_V30(userId));
  EXPECT_TRUE(camsim.WaitForLine("logout"));
  EXPECT_FALSE(NET_DVR_RemoteControl(userId, NET_DVR_CHECK_USER_STATUS, nullptr, 0));
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_INVALID_USERID));
}

TEST_F(SdkLoginTest, LoginFailuresCarryTheirCodes) {
  CamSimProcess camsim("127.0.0.3", {"--password", "secret", "--max-links", "1"});
  ASSERT_TRUE(camsim.Started()) << camsim.Errors();

  EXPECT_LT(Login(camsim, "wrong"), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), 1u);
  EXPECT_TRUE(camsim.WaitForLine("login failed user=admin reason=password"));
  EXPECT_LT(Login(camsim.Ip(), camsim.Port(), "guest", "secret"), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), 1u);

  const int32_t first = Login(camsim, "secret");
  ASSERT_GE(first, 0) << NET_DVR_GetLastError();
  EXPECT_LT(Login(camsim, "secret"), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), 5u);
  EXPECT_TRUE(camsim.WaitForLine("login failed user=admin reason=max-links"));
  // The refused login did not disturb the one in force, and its link is free again after it.
  EXPECT_TRUE(NET_DVR_RemoteControl(first, NET_DVR_CHECK_USER_STATUS, nullptr, 0));
  EXPECT_TRUE(NET_DVR_Logout_V30(first));
  ASSERT_TRUE(camsim.WaitForLine("logout"));
  const int32_t second = Login(camsim, "secret");
  EXPECT_GE(second, 0) << NET_DVR_GetLastError();
  EXPECT_NE(second, first);

  // A changed password holds for the next login only.
  camsim.Command("password fresh");
  ASSERT_TRUE(camsim.WaitForLine("password changed"));
  EXPECT_TRUE(NET_DVR_RemoteControl(second, NET_DVR_CHECK_USER_STATUS, nullptr, 0));
  EXPECT_TRUE(NET_DVR_Logout_V30(second));
  ASSERT_TRUE(camsim.WaitForLine("logout"));
  EXPECT_LT(Login(camsim, "secret"), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), 1u);
  EXPECT_GE(Login(camsim, "fresh"), 0);
}

TEST_F(SdkLoginTest, VersionMismatchAndUnreachableDevices) {
  CamSimProcess other("127.0.0.4", {"--version-mismatch"});
  ASSERT_TRUE(other.Started()) << other.Errors();
  EXPECT_LT(Login(other), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), 6u);
  EXPECT_TRUE(other.WaitForLine("login failed user=admin reason=version"));

  EXPECT_LT(Login("127.0.0.1", ClosedPort(), "admin", "admin"), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), 7u);
}

TEST_F(SdkLoginTest, DeviceThatNeverAnswersIsUnreachable) {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor silent(
      io, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
  // The kernel completes the connection; nobody ever reads or answers.
  EXPECT_LT(Login("127.0.0.1", silent.local_endpoint().port(), "admin", "admin"), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), 7u);
}

TEST_F(SdkLoginTest, OnlineCheckFailsWhileOfflineAndLoginWorksAfter) {
  CamSimProcess camsim("127.0.0.5", {});
  ASSERT_TRUE(camsim.Started()) << camsim.Errors();
  const int32_t userId = Login(camsim);
  ASSERT_GE(userId, 0);
  ASSERT_TRUE(NET_DVR_RemoteControl(userId, NET_DVR_CHECK_USER_STATUS, nullptr, 0));

  camsim.Command("offline 3");
  ASSERT_TRUE(camsim.WaitForLine("offline"));
  ASSERT_TRUE(camsim.WaitForLine("logout"));
  bool failed = false;
  for (int i = 0; i < 50 && !failed; ++i) {
    failed = !NET_DVR_RemoteControl(userId, NET_DVR_CHECK_USER_STATUS, nullptr, 0);
    if (!failed) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_CONNECTION_LOST));
  EXPECT_LT(Login(camsim), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), 7u);
  // The lost login is still ours to log out.
  EXPECT_TRUE(NET_DVR_Logout_V30(userId));

  ASSERT_TRUE(camsim.WaitForLine("online"));
  const int32_t again = Login(camsim);
  ASSERT_GE(again, 0) << NET_DVR_GetLastError();
  EXPECT_TRUE(NET_DVR_RemoteControl(again, NET_DVR_CHECK_USER_STATUS, nullptr, 0));
}

TEST_F(SdkLoginTest, BadArgumentsAndUnknownIdsGiveTheirCodes) {
  EXPECT_LT(NET_DVR_Login_V40(nullptr, nullptr), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_PARAMETER_ERROR));

  NET_DVR_USER_LOGIN_INFO login;
  std::memset(&login, 0, sizeof login);
  std::memcpy(login.sDeviceAddress, "not-an-address", 14);
  login.wPort = 8000;
  EXPECT_LT(NET_DVR_Login_V40(&login, nullptr), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_PARAMETER_ERROR));
  std::memset(&login, 0, sizeof login);
  std::memcpy(login.sDeviceAddress, "127.0.0.1", 9);
  login.bUseAsynLogin = 1;
  EXPECT_LT(NET_DVR_Login_V40(&login, nullptr), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_PARAMETER_ERROR));
  // An address that fills its whole field has no terminator: it must not be read past.
  std::memset(login.sDeviceAddress, '1', sizeof login.sDeviceAddress);
  login.bUseAsynLogin = 0;
  EXPECT_LT(NET_DVR_Login_V40(&login, nullptr), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_PARAMETER_ERROR));

  EXPECT_FALSE(NET_DVR_Logout_V30(12345));
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_INVALID_USERID));
  EXPECT_FALSE(NET_DVR_RemoteControl(-1, NET_DVR_CHECK_USER_STATUS, nullptr, 0));
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_INVALID_USERID));
  EXPECT_LT(OpenChannel(777), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_INVALID_USERID));
  EXPECT_FALSE(NET_DVR_CloseAlarmChan_V30(-1));
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_INVALID_ALARM_HANDLE));
  EXPECT_FALSE(NET_DVR_SetDVRMessageCallBack_V50(3, &AlarmRecorder::Callback, nullptr));
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_PARAMETER_ERROR));

  CamSimProcess camsim("127.0.0.6", {});
  ASSERT_TRUE(camsim.Started()) << camsim.Errors();
  const int32_t userId = Login(camsim);
  ASSERT_GE(userId, 0);
  auto config = std::make_unique<NET_DVR_IPPARACFG_V40>();
  EXPECT_FALSE(NET_DVR_GetDVRConfig(userId, 9999, 0, config.get(), sizeof *config, nullptr));
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_UNSUPPORTED_COMMAND));
  EXPECT_FALSE(
      NET_DVR_GetDVRConfig(userId, NET_DVR_GET_IPPARACFG_V40, 0, config.get(), 100, nullptr));
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_PARAMETER_ERROR));
  EXPECT_FALSE(NET_DVR_RemoteControl(userId, 1, nullptr, 0));
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_UNSUPPORTED_COMMAND));
  EXPECT_FALSE(NET_DVR_Logout_V30(userId + 1));
  EXPECT_TRUE(NET_DVR_Logout_V30(userId));
  EXPECT_FALSE(NET_DVR_Logout_V30(userId));
}

TEST_F(SdkLoginTest, LastErrorBelongsToTheCallingThread) {
  CamSimProcess camsim("127.0.0.7", {});
  ASSERT_TRUE(camsim.Started()) << camsim.Errors();
  EXPECT_LT(Login(camsim, "wrong"), 0);
  ASSERT_EQ(NET_DVR_GetLastError(), 1u);
  uint32_t otherBefore = 99;
  uint32_t otherAfter = 99;
  std::thread other([&] {
    otherBefore = NET_DVR_GetLastError();
    NET_DVR_Logout_V30(4242);
    otherAfter = NET_DVR_GetLastError();
  });
  other.join();
  EXPECT_EQ(otherBefore, 0u);
  EXPECT_EQ(otherAfter, static_cast<uint32_t>(NET_DVR_INVALID_USERID));
  EXPECT_EQ(NET_DVR_GetLastError(), 1u);
}

TEST(SdkLifetimeTest, InitAndCleanupAreCounted) {
  EXPECT_FALSE(NET_DVR_Cleanup());
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_NOT_INITIALIZED));
  EXPECT_LT(NET_DVR_Login_V40(nullptr, nullptr), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_NOT_INITIALIZED));

  CamSimProcess camsim("127.0.0.8", {});
  ASSERT_TRUE(camsim.Started()) << camsim.Errors();
  ASSERT_TRUE(NET_DVR_Init());
  ASSERT_TRUE(NET_DVR_Init());
  const int32_t userId = SdkTest::Login(camsim.Ip(), camsim.Port(), "admin", "admin");
  ASSERT_GE(userId, 0);
  EXPECT_TRUE(NET_DVR_Cleanup());
  // One initialisation is still in force: the login lives on.
  EXPECT_TRUE(NET_DVR_RemoteControl(userId, NET_DVR_CHECK_USER_STATUS, nullptr, 0));
  EXPECT_TRUE(NET_DVR_Cleanup());
  // The last clean-up closes every connection.
  EXPECT_TRUE(camsim.WaitForLine("logout"));
  EXPECT_FALSE(NET_DVR_RemoteControl(userId, NET_DVR_CHECK_USER_STATUS, nullptr, 0));
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_NOT_INITIALIZED));

  // A fresh start works again, from many threads at once.
  std::vector<std::thread> threads;
  std::atomic<int> logins{0};
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int round = 0; round < 5; ++round) {
        NET_DVR_Init();
        if (SdkTest::Login(camsim.Ip(), camsim.Port(), "admin", "admin") >= 0) ++logins;
        NET_DVR_Cleanup();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_GT(logins.load(), 0);
  EXPECT_FALSE(NET_DVR_Cleanup());
}

}  // namespace
}  // namespace sdktest
