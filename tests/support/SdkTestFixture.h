// Test helpers shared by the SDK tests: a fixture that initialises the library for each
// test, a login helper, and an alarm recorder whose callback runs on the library's
// callback thread. AlarmRecorder::mutex_ guards what it has recorded.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/CamSimProcess.h"
#include "sdk/HCNetSDK.h"

namespace sdktest {

// What the callback saw of one alarm, copied out of the library's buffers.
struct RecordedAlarm {
  int32_t command = 0;
  int32_t userId = -1;
  int32_t alarmHandle = -1;
  std::string alarmerIp;
  uint32_t length = 0;
  bool isFace = false;
  NET_VCA_FACESNAP_RESULT face{};
  std::vector<uint8_t> jpeg;
  bool hasAddInfo = false;
  NET_VCA_FACESNAP_ADDINFO addInfo{};
  std::thread::id thread;
  void* user = nullptr;
};

class AlarmRecorder {
 public:
  // Runs inside the callback before recording; may throw to test the library's barrier.
  void SetHook(std::function<void(const RecordedAlarm&)> hook) {
    std::lock_guard<std::mutex> guard(mutex_);
    hook_ = std::move(hook);
  }

  static void Callback(int32_t command, NET_DVR_ALARMER* alarmer, char* buffer, uint32_t length,
                       void* user) {
    auto* self = static_cast<AlarmRecorder*>(user);
    RecordedAlarm alarm;
    alarm.command = command;
    alarm.length = length;
    alarm.user = user;
    alarm.thread = std::this_thread::get_id();
    if (alarmer) {
      alarm.userId = alarmer->lUserID;
      alarm.alarmHandle = alarmer->lAlarmHandle;
      alarm.alarmerIp = alarmer->sDeviceIP;
    }
    if (command == COMM_UPLOAD_FACESNAP_RESULT && buffer &&
        length >= sizeof(NET_VCA_FACESNAP_RESULT)) {
      alarm.isFace = true;
      std::memcpy(&alarm.face, buffer, sizeof alarm.face);
      if (alarm.face.pBuffer1) {
        alarm.jpeg.assign(alarm.face.pBuffer1, alarm.face.pBuffer1 + alarm.face.dwFacePicLen);
      }
      if (alarm.face.byAddInfo && alarm.face.pAddInfoBuffer) {
        alarm.hasAddInfo = true;
        std::memcpy(&alarm.addInfo, alarm.face.pAddInfoBuffer, sizeof alarm.addInfo);
      }
    }
    const int running = ++self->running_;
    if (running > self->maxRunning_) self->maxRunning_ = running;
    std::exception_ptr thrown;
    std::function<void(const RecordedAlarm&)> hook;
    {
      std::lock_guard<std::mutex> guard(self->mutex_);
      hook = self->hook_;
    }
    try {
      if (hook) hook(alarm);
    } catch (...) {
      thrown = std::current_exception();
    }
    --self->running_;
    {
      std::lock_guard<std::mutex> guard(self->mutex_);
      self->alarms_.push_back(alarm);
    }
    self->changed_.notify_all();
    if (thrown) std::rethrow_exception(thrown);
  }

  // Waits until an alarm with this face id (or, for id 0, with this command) is recorded.
  bool WaitForFace(uint32_t faceId, RecordedAlarm* out = nullptr,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return WaitFor([&](const RecordedAlarm& a) { return a.isFace && a.face.dwFacePicID == faceId; },
                   out, timeout);
  }
  bool WaitForCommand(int32_t command, RecordedAlarm* out = nullptr,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return WaitFor([&](const RecordedAlarm& a) { return a.command == command; }, out, timeout);
  }
  bool WaitFor(const std::function<bool(const RecordedAlarm&)>& match, RecordedAlarm* out,
               std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      for (const auto& alarm : alarms_) {
        if (match(alarm)) {
          if (out) *out = alarm;
          return true;
        }
      }
      return false;
    });
  }
  std::vector<RecordedAlarm> Alarms() {
    std::lock_guard<std::mutex> guard(mutex_);
    return alarms_;
  }
  int MaxConcurrent() const { return maxRunning_; }

 private:
  std::atomic<int> running_{0};
  std::atomic<int> maxRunning_{0};
  std::mutex mutex_;
  std::function<void(const RecordedAlarm&)> hook_;  // guarded by mutex_
  std::condition_variable changed_;
  std::vector<RecordedAlarm> alarms_;
};

class SdkTest : public ::testing::Test {
 public:
  static int32_t Login(const std::string& ip, uint16_t port, const std::string& user,
                       const std::string& password, NET_DVR_DEVICEINFO_V40* info = nullptr) {
    NET_DVR_USER_LOGIN_INFO login;
    std::memset(&login, 0, sizeof login);
    std::memcpy(login.sDeviceAddress, ip.data(), ip.size());
    login.wPort = port;
    std::memcpy(login.sUserName, user.data(), user.size());
    std::memcpy(login.sPassword, password.data(), password.size());
    NET_DVR_DEVICEINFO_V40 localInfo;
    std::memset(&localInfo, 0, sizeof localInfo);
    return NET_DVR_Login_V40(&login, info ? info : &localInfo);
  }
  static int32_t Login(const CamSimProcess& camsim, const std::string& password = "admin",
                       NET_DVR_DEVICEINFO_V40* info = nullptr) {
    return Login(camsim.Ip(), camsim.Port(), "admin", password, info);
  }
  static int32_t OpenChannel(int32_t userId) {
    NET_DVR_SETUPALARM_PARAM_V50 param;
    std::memset(&param, 0, sizeof param);
    param.dwSize = sizeof param;
    param.byAlarmInfoType = 1;
    param.byRetAlarmTypeV40 = 1;
    param.byRetDevInfoVersion = 1;
    param.byRetVQDAlarmType = 1;
    param.byFaceAlarmDetection = 1;
    param.bySupport = 4;
    return NET_DVR_SetupAlarmChan_V50(userId, &param, nullptr, 0);
  }

 protected:
  void SetUp() override {
    ASSERT_TRUE(NET_DVR_Init());
    ASSERT_TRUE(NET_DVR_SetDVRMessageCallBack_V50(0, &AlarmRecorder::Callback, &recorder_));
  }
  void TearDown() override { NET_DVR_Cleanup(); }

  AlarmRecorder recorder_;
};

}  // namespace sdktest
