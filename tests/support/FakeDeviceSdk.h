// Test double of the device SDK: records every call (and any note a test adds) in one
// timeline and answers as the test scripts it. Any thread; all state is guarded by mutex_,
// last errors are kept per thread as the library keeps them. Every wait is bounded.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "device/DeviceSdk.h"

class FakeDeviceSdk : public DeviceSdk {
 public:
  static constexpr int kWaitBoundMs = 10000;

  // One login's answer: a user id (negative: failure with error) and the channel counts.
  struct LoginAnswer {
    int32_t userId = 0;
    uint32_t error = 0;
    uint8_t analogChannels = 0, firstAnalog = 1, ipChannels = 0, firstDigital = 0;
  };

  // ---- scripting ----
  void QueueLogin(const LoginAnswer& answer) {
    Locked([&] { logins_.push_back(answer); });
  }
  void SetDefaultLogin(const LoginAnswer& answer) {
    Locked([&] { defaultLogin_ = answer; });
  }
  // While blocked, Login_V40 waits (at most kWaitBoundMs) for ReleaseLogins.
  void BlockLogins() {
    Locked([&] { loginsBlocked_ = true; });
  }
  void ReleaseLogins() {
    Locked([&] { loginsBlocked_ = false; });
  }
  // What configuration requests return: success with these bytes, or failure.
  void SetConfig(bool ok, const std::vector<uint8_t>& bytes = {}) {
    Locked([&] {
      configOk_ = ok;
      config_ = bytes;
    });
  }
  void QueueCheck(int result) {
    Locked([&] { checks_.push_back(result); });
  }
  void SetDefaultCheck(int result, uint32_t error = 0) {
    Locked([&] { defaultCheck_ = result, checkError_ = error; });
  }
  void SetSetupResult(int32_t handle, uint32_t error = 0) {
    Locked([&] { setupHandle_ = handle, setupError_ = error; });
  }
  void SetCloseResult(int result, uint32_t error) {
    Locked([&] { closeResult_ = result, closeError_ = error; });
  }

  // ---- observing ----
  void Note(const std::string& entry) {
    Locked([&] { calls_.push_back(entry); });
  }
  std::vector<std::string> Calls() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return calls_;
  }
  // Entries that begin with prefix.
  int Count(const std::string& prefix) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return CountLocked(prefix);
  }
  // False when fewer than count entries begin with prefix after kWaitBoundMs.
  bool WaitForCount(const std::string& prefix, int count) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(kWaitBoundMs),
                             [&] { return CountLocked(prefix) >= count; });
  }
  // Logouts that came while a login was in progress, and logins during another login.
  int Overlaps() const { return Get(overlaps_); }
  std::vector<uint8_t> LastLoginInfo() const { return Get(lastLoginInfo_); }
  std::vector<uint8_t> LastSetup() const { return Get(lastSetup_); }

  // ---- DeviceSdk ----
  int Init() override { return Note("Init"), 1; }
  int Cleanup() override { return Note("Cleanup"), 1; }
  int SetDVRMessageCallBack_V50(int, NET_DVR_MessageCallback, void*) override { return 1; }
  int32_t Login_V40(NET_DVR_USER_LOGIN_INFO* loginInfo,
                    NET_DVR_DEVICEINFO_V40* deviceInfo) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (loginsInProgress_++ > 0) ++overlaps_;
    lastLoginInfo_ = Bytes(loginInfo);
    Push("Login");
    changed_.wait_for(lock, std::chrono::milliseconds(kWaitBoundMs),
                      [&] { return !loginsBlocked_; });
    LoginAnswer answer = defaultLogin_;
    if (!logins_.empty()) {
      answer = logins_.front();
      logins_.pop_front();
    }
    NET_DVR_DEVICEINFO_V30& info = deviceInfo->struDeviceV30;
    info.byChanNum = answer.analogChannels;
    info.byStartChan = answer.firstAnalog;
    info.byIPChanNum = answer.ipChannels;
    info.byStartDChan = answer.firstDigital;
    if (answer.userId < 0) lastError = answer.error;
    --loginsInProgress_;
    return answer.userId;
  }
  int Logout_V30(int32_t userId) override {
    std::lock_guard<std::mutex> guard(mutex_);
    if (loginsInProgress_ > 0) ++overlaps_;
    Push("Logout " + std::to_string(userId));
    return 1;
  }
  uint32_t GetLastError() override { return lastError; }
  // Recorded as "GetConfig user command channel size", plus " dirty" for an unzeroed buffer.
  int GetDVRConfig(int32_t userId, uint32_t command, int32_t channel, void* outBuffer,
                   uint32_t outBufferSize, uint32_t* bytesReturned) override {
    std::lock_guard<std::mutex> guard(mutex_);
    auto* out = static_cast<uint8_t*>(outBuffer);
    const bool zeroed = std::all_of(out, out + outBufferSize, [](uint8_t b) { return b == 0; });
    Push("GetConfig " + std::to_string(userId) + " " + std::to_string(command) + " " +
         std::to_string(channel) + " " + std::to_string(outBufferSize) + (zeroed ? "" : " dirty"));
    if (!configOk_) return lastError = 23, 0;
    std::copy_n(config_.begin(), std::min<std::size_t>(outBufferSize, config_.size()), out);
    *bytesReturned = outBufferSize;
    return 1;
  }
  // Recorded as "Check user command", plus " buffer" when one is passed.
  int RemoteControl(int32_t userId, uint32_t command, void* inBuffer,
                    uint32_t inBufferSize) override {
    std::lock_guard<std::mutex> guard(mutex_);
    Push("Check " + std::to_string(userId) + " " + std::to_string(command) +
         (inBuffer == nullptr && inBufferSize == 0 ? "" : " buffer"));
    int result = defaultCheck_;
    if (!checks_.empty()) {
      result = checks_.front();
      checks_.pop_front();
    }
    if (result == 0) lastError = checkError_;
    return result;
  }
  // Recorded as "Setup user", plus " sub" when a subscription text is passed.
  int32_t SetupAlarmChan_V50(int32_t userId, NET_DVR_SETUPALARM_PARAM_V50* setupParam,
                             char* subscription, uint32_t subscriptionSize) override {
    std::lock_guard<std::mutex> guard(mutex_);
    Push("Setup " + std::to_string(userId) +
         (subscription == nullptr && subscriptionSize == 0 ? "" : " sub"));
    lastSetup_ = Bytes(setupParam);
    if (setupHandle_ < 0) return lastError = setupError_, -1;
    return setupHandle_++;
  }
  int CloseAlarmChan_V30(int32_t alarmHandle) override {
    std::lock_guard<std::mutex> guard(mutex_);
    Push("Close " + std::to_string(alarmHandle));
    if (closeResult_ == 0) lastError = closeError_;
    return closeResult_;
  }

 private:
  static inline thread_local uint32_t lastError = 0;

  template <typename T>
  static std::vector<uint8_t> Bytes(const T* p) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(p);
    return std::vector<uint8_t>(bytes, bytes + sizeof *p);
  }
  template <typename F>
  void Locked(F f) {
    std::lock_guard<std::mutex> guard(mutex_);
    f();
    changed_.notify_all();
  }
  template <typename T>
  T Get(const T& member) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return member;
  }
  // REQUIRES: mutex_ held.
  void Push(const std::string& entry) {
    calls_.push_back(entry);
    changed_.notify_all();
  }
  int CountLocked(const std::string& prefix) const {
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [&](const std::string& c) {
      return c.compare(0, prefix.size(), prefix) == 0;
    }));
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> calls_;
  std::deque<LoginAnswer> logins_;
  LoginAnswer defaultLogin_;
  bool loginsBlocked_ = false;
  int loginsInProgress_ = 0;
  int overlaps_ = 0;
  std::vector<uint8_t> lastLoginInfo_;
  bool configOk_ = true;
  std::vector<uint8_t> config_;
  std::deque<int> checks_;
  int defaultCheck_ = 1;
  uint32_t checkError_ = 0;
  int32_t setupHandle_ = 100;
  uint32_t setupError_ = 0;
  std::vector<uint8_t> lastSetup_;
  int closeResult_ = 1;
  uint32_t closeError_ = 0;
};
