#include "device/LibraryDeviceSdk.h"

DeviceSdk& DeviceSdk::Default() {
  static LibraryDeviceSdk instance;
  return instance;
}

int LibraryDeviceSdk::Init() { return NET_DVR_Init(); }

int LibraryDeviceSdk::Cleanup() { return NET_DVR_Cleanup(); }

int LibraryDeviceSdk::SetDVRMessageCallBack_V50(int index, NET_DVR_MessageCallback callback,
                                                void* user) {
  return NET_DVR_SetDVRMessageCallBack_V50(index, callback, user);
}

int32_t LibraryDeviceSdk::Login_V40(NET_DVR_USER_LOGIN_INFO* loginInfo,
                                    NET_DVR_DEVICEINFO_V40* deviceInfo) {
  return NET_DVR_Login_V40(loginInfo, deviceInfo);
}

int LibraryDeviceSdk::Logout_V30(int32_t userId) { return NET_DVR_Logout_V30(userId); }

uint32_t LibraryDeviceSdk::GetLastError() { return NET_DVR_GetLastError(); }

int LibraryDeviceSdk::GetDVRConfig(int32_t userId, uint32_t command, int32_t channel,
                                   void* outBuffer, uint32_t outBufferSize,
                                   uint32_t* bytesReturned) {
  return NET_DVR_GetDVRConfig(userId, command, channel, outBuffer, outBufferSize, bytesReturned);
}

int LibraryDeviceSdk::RemoteControl(int32_t userId, uint32_t command, void* inBuffer,
                                    uint32_t inBufferSize) {
  return NET_DVR_RemoteControl(userId, command, inBuffer, inBufferSize);
}

int32_t LibraryDeviceSdk::SetupAlarmChan_V50(int32_t userId,
                                             NET_DVR_SETUPALARM_PARAM_V50* setupParam,
                                             char* subscription, uint32_t subscriptionSize) {
  return NET_DVR_SetupAlarmChan_V50(userId, setupParam, subscription, subscriptionSize);
}

int LibraryDeviceSdk::CloseAlarmChan_V30(int32_t alarmHandle) {
  return NET_DVR_CloseAlarmChan_V30(alarmHandle);
}
