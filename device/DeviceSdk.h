// The device SDK as the device connections and alarm channels see it: one virtual method per
// library call, so a test can put a double in place of the library. The methods mirror the
// C functions of sdk/HCNetSDK.h one to one. Implementations must be safe from any thread and
// keep the last error per thread, as the library does.
#pragma once

#include <cstdint>

#include "sdk/HCNetSDK.h"

class DeviceSdk {
 public:
  DeviceSdk() = default;
  virtual ~DeviceSdk() = default;
  DeviceSdk(const DeviceSdk&) = delete;
  DeviceSdk& operator=(const DeviceSdk&) = delete;

  // The process-wide instance that forwards to the library.
  static DeviceSdk& Default();

  virtual int Init() = 0;
  virtual int Cleanup() = 0;
  virtual int SetDVRMessageCallBack_V50(int index, NET_DVR_MessageCallback callback,
                                        void* user) = 0;
  virtual int32_t Login_V40(NET_DVR_USER_LOGIN_INFO* loginInfo,
                            NET_DVR_DEVICEINFO_V40* deviceInfo) = 0;
  virtual int Logout_V30(int32_t userId) = 0;
  virtual uint32_t GetLastError() = 0;
  virtual int GetDVRConfig(int32_t userId, uint32_t command, int32_t channel, void* outBuffer,
                           uint32_t outBufferSize, uint32_t* bytesReturned) = 0;
  virtual int RemoteControl(int32_t userId, uint32_t command, void* inBuffer,
                            uint32_t inBufferSize) = 0;
  virtual int32_t SetupAlarmChan_V50(int32_t userId, NET_DVR_SETUPALARM_PARAM_V50* setupParam,
                                     char* subscription, uint32_t subscriptionSize) = 0;
  virtual int CloseAlarmChan_V30(int32_t alarmHandle) = 0;
};
