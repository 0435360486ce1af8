#include "device/HikNetAlarmImpl.h"

#include <cstring>
#include <new>

#include "device/HikNetDevice.h"
#include "platform/DebugOutput.h"
#include "records/DeviceConnection.h"
#include "support/StringFormat.h"

CHikNetAlarmImpl::CHikNetAlarmImpl(CHikNetDevice* device) : CHikNetImpl(device) {}

CHikNetAlarmImpl::~CHikNetAlarmImpl() = default;

int CHikNetAlarmImpl::Open() {
  Close();
  if (device == nullptr) return -1;

  NET_DVR_SETUPALARM_PARAM_V50 setup;
  std::memset(&setup, 0, sizeof setup);
  setup.dwSize = sizeof setup;
  setup.byAlarmInfoType = 1;
  setup.byRetAlarmTypeV40 = 1;
  setup.byRetDevInfoVersion = 1;
  setup.byRetVQDAlarmType = 1;
  setup.byFaceAlarmDetection = 1;
  setup.bySupport = 4;

  DeviceSdk& sdk = device->Sdk();
  const int32_t handle = sdk.SetupAlarmChan_V50(device->userId, &setup, nullptr, 0);
  if (handle < 0) {
    alarmHandle = -1;
    platform::DebugOutput(StringFormat("=====Failed to set up alarm channel: %d",
                                       static_cast<int>(sdk.GetLastError())));
    return -1;
  }
  alarmHandle = handle;
  return 0;
}

int CHikNetAlarmImpl::Close() {
  if (alarmHandle == -1) return -1;
  DeviceSdk& sdk = device->Sdk();
  if (sdk.CloseAlarmChan_V30(alarmHandle) == 0) {
    platform::DebugOutput(StringFormat("=====Failed to close alarm channel: %d",
                                       static_cast<int>(sdk.GetLastError())));
  }
  alarmHandle = -1;
  return 0;
}

void CHikNetAlarmImpl::OnStatusChanged(int state) {
  if (state != status) {
    if (state == kDeviceOnline) {
      Open();
    } else if (state == kDeviceOffline) {
      Close();
    }
  }
  CHikNetImpl::OnStatusChanged(state);
}

CHikNetAlarmImplFactory& CHikNetAlarmImplFactory::Instance() {
  static CHikNetAlarmImplFactory instance;
  return instance;
}

CHikNetImpl* CHikNetAlarmImplFactory::Create(CHikNetDevice* device) {
  return new (std::nothrow) CHikNetAlarmImpl(device);
}
