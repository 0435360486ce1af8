// The alarm channel of one device: keeps the SDK's alarm channel open exactly while the device
// is online, so its face-snapshot alarms reach the message callback that start-up registered.
// Its operations run on the thread that notifies the device's listeners, with the device's
// `lock` held, so they never overlap; `lock` also guards `alarmHandle`.
#pragma once

#include <cstdint>

#include "device/HikNetImpl.h"

class CHikNetAlarmImpl : public CHikNetImpl {
 public:
  explicit CHikNetAlarmImpl(CHikNetDevice* device);
  // Only unregisters from the device; the channel is closed by the device's logout.
  ~CHikNetAlarmImpl() override;

  // Closes any open channel, then sets one up on the device's login; 0 open, -1 failure.
  int Open() override;
  // -1 when no channel was open (nothing is called), else 0; the handle is dropped even when
  // the SDK refuses the close.
  int Close() override;
  // Acts on changes only: to online opens, to offline closes, to connecting nothing. Stores every state.
  void OnStatusChanged(int state) override;

  int32_t alarmHandle = -1;  // -1: no channel open
};

class CHikNetAlarmImplFactory : public CHikNetImplFactory {
 public:
  // The one instance of the process.
  static CHikNetAlarmImplFactory& Instance();

  CHikNetImpl* Create(CHikNetDevice* device) override;

 private:
  CHikNetAlarmImplFactory() = default;
};
