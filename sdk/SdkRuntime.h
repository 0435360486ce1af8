// The running library between an initialisation and its last clean-up: the io thread that
// serves every device connection, the alarm dispatcher, and the tables of logins and alarm
// channels. Any thread may call the operations; each returns its outcome and sets *error.
// mutex_ guards the members below it.
#pragma once

#include <atomic>
#include <boost/asio.hpp>
#include <chrono>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "sdk/AlarmDispatcher.h"
#include "sdk/DeviceLink.h"
#include "sdk/HCNetSDK.h"

namespace sdkstandin {

class SdkRuntime {
 public:
  static constexpr std::chrono::milliseconds kConnectTimeout{3000};
  static constexpr std::chrono::milliseconds kReplyTimeout{5000};

  SdkRuntime();
  ~SdkRuntime();
  SdkRuntime(const SdkRuntime&) = delete;
  SdkRuntime& operator=(const SdkRuntime&) = delete;

  // Closes every connection and ends the threads; later operations fail.
  void Shutdown();

  bool SetCallback(int index, NET_DVR_MessageCallback callback, void* user, uint32_t* error);
  int32_t Login(const NET_DVR_USER_LOGIN_INFO& login, NET_DVR_DEVICEINFO_V40* deviceInfo,
                uint32_t* error);
  bool Logout(int32_t userId, uint32_t* error);
  bool GetIpConfig(int32_t userId, NET_DVR_IPPARACFG_V40* config, uint32_t* error);
  bool CheckUser(int32_t userId, uint32_t* error);
  int32_t SetupAlarm(int32_t userId, uint32_t* error);
  bool CloseAlarm(int32_t alarmHandle, uint32_t* error);

 private:
  // Where a link's alarms come from; the user id is known only once the login succeeded.
  struct Origin {
    std::string ip;
    uint16_t port = 0;
    std::atomic<int32_t> userId{-1};  // set once the login succeeded
  };
  struct AlarmEntry {
    int32_t userId = -1;
    uint32_t deviceChannel = 0;
    std::weak_ptr<DeviceLink> link;  // empty once its login ended
  };

  std::shared_ptr<DeviceLink> FindLink(int32_t userId, uint32_t* error);
  bool OnAlarm(const std::shared_ptr<Origin>& origin, int32_t alarmHandle,
               sdkwire::AlarmFrame&& alarm);

  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  std::thread ioThread_;
  std::future<void> ioDone_;
  AlarmDispatcher dispatcher_;

  std::mutex mutex_;
  bool stopped_ = false;
  int32_t nextUserId_ = 0;
  int32_t nextAlarmHandle_ = 0;
  std::map<int32_t, std::shared_ptr<DeviceLink>> users_;
  std::map<int32_t, AlarmEntry> alarms_;
  std::set<std::shared_ptr<DeviceLink>> connecting_;
};

}  // namespace sdkstandin
