// The production DeviceSdk: every method calls the library function of the same name.
// Stateless; any thread. DeviceSdk::Default() returns the one instance.
#pragma once

#include "device/DeviceSdk.h"

class LibraryDeviceSdk final : public DeviceSdk {
 public:
  int Init() override;
  int Cleanup() override;
  int SetDVRMessageCallBack_V50(int index, NET_DVR_MessageCallback callback, void* user) override;
  int32_t Login_V40(NET_DVR_USER_LOGIN_INFO* loginInfo,
                    NET_DVR_DEVICEINFO_V40* deviceInfo) override;
  int Logout_V30(int32_t userId) override;
  uint32_t GetLastError() override;
  int GetDVRConfig(int32_t userId, uint32_t command, int32_t channel, void* outBuffer,
                   uint32_t outBufferSize, uint32_t* bytesReturned) override;
  int RemoteControl(int32_t userId, uint32_t command, void* inBuffer,
                    uint32_t inBufferSize) override;
  int32_t SetupAlarmChan_V50(int32_t userId, NET_DVR_SETUPALARM_PARAM_V50* setupParam,
                             char* subscription, uint32_t subscriptionSize) override;
  int CloseAlarmChan_V30(int32_t alarmHandle) override;
};
