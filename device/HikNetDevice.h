// One configured camera or NVR: its login through the device SDK, its channel table, and a
// device thread that checks every 15 s that the device is still reachable, logs out when it
// is not and logs in again later. Every connection state (a DeviceConnection)
// is passed to the listeners, normally the device's functional object (`impl`).
//
// Threads: the UI thread builds and starts the device, makes the first Login, Stops and
// releases it; the device thread runs DeviceThreadProc. `loginLock` is held by SetConfig,
// Login, Logout, Stop's logout and each step of the device thread, so logins and logouts of
// one device never overlap; `lock` guards `listeners` and is held through every
// notification. Lock order: `loginLock` before `lock`, never the other way round. Listeners
// run with `lock` (mostly also `loginLock`) held; they may call the SDK, but never Login,
// Logout, SetConfig or Stop of a device.
//
// Start-up, UI thread, for each DeviceConfig:
//   CHikNetDevice* device = new CHikNetDevice();
//   device->impl.reset(factory.Create(device));  // factory: a CHikNetImplFactory&
//   device->CreateEvents();                      // loginEvent auto-reset, stopEvent manual
//   device->StartThread();                       // created suspended, then resumed
//   device->SetConfig(config);                   // may come first: the thread is then
//   device->autoReconnect = 1;                   //   named after the device's address
//   devices.push_back(device);
//   device->Login();                             // result not examined
// Teardown, UI thread, in list order: device->Stop(); device->ExternalRelease();
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/DeviceConfig.h"
#include "device/DeviceSdk.h"
#include "device/HikNetImpl.h"
#include "platform/CmdTarget.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Thread.h"

// One entry of a device's channel table.
struct ChannelEntry {
  int number = -1;  // -1: no channel
  char name[40] = {};
  uint8_t reservedByte = 255;
  int reservedInt = 0;
  int enabled = 0;
};

class CHikNetDevice : public CCmdTarget {
 public:
  using ListenerCallback = void (*)(int state, void* user);
  struct Listener {
    ListenerCallback callback;
    void* user;
  };

  static constexpr int kOnlineCheckPeriodMs = 15000;
  static constexpr int kStopWaitSliceMs = 100;
  static constexpr int kLoginLockPollMs = 10;
  static constexpr int kChannelCount = 64;
  static constexpr int kAnalogChannelEntries = 32;  // entries 0-31; IP channels use 32-63

  // Calls the SDK's Init. The period between online checks can be shortened for tests.
  explicit CHikNetDevice(DeviceSdk& sdk = DeviceSdk::Default(),
                         int onlineCheckPeriodMs = kOnlineCheckPeriodMs);
  // Calls the SDK's Cleanup.
  ~CHikNetDevice() override;

  // Start-up steps, UI thread, before the first Login.
  void CreateEvents();  // creates whichever of the two events is missing
  void StartThread();   // creates the events if needed; does nothing when started already
  void SetConfig(const DeviceConfig& config);  // any time; takes effect at the next Login

  // Any thread. 0 on success, -1 on failure (the reason goes to the debug output).
  int Login();
  // Any thread. Logs out when logged in and notifies 0; always returns 0.
  int Logout();
  // Nonzero when the device is reachable and the login still valid (then calls
  // impl->OnHeartbeat); 0 otherwise, with the error code on the debug output.
  int CheckOnline();
  // Reads the channel table of the current login; called by Login.
  void LoadChannels();

  // Any thread, also from a listener. -1 when the callback is registered already
  // (whatever the user pointer) or null, 0 otherwise.
  int AddListener(ListenerCallback callback, void* user);
  // Removes the first entry with this callback; the user pointer is not compared. -1: none.
  int RemoveListener(ListenerCallback callback, void* user);

  // UI thread, at shutdown: logs out, ends the device thread and waits for it, serving the
  // main message loop (when there is one) in 100 ms steps meanwhile.
  void Stop();

  // The device thread's procedure; arg is the device. 1 when given none, else 0.
  static unsigned DeviceThreadProc(void* arg);

  DeviceSdk& Sdk() const { return sdk_; }

  // Set up by the UI thread before the device thread starts; constant while it runs.
  std::unique_ptr<platform::Thread> thread;
  std::unique_ptr<platform::Event> stopEvent;   // set by Stop
  std::unique_ptr<platform::Event> loginEvent;  // set at the end of every successful login
  std::unique_ptr<CHikNetImpl> impl;

  // Read by any thread; userId is written only under loginLock.
  std::atomic<int> autoReconnect{0};  // while 0 the thread never logs an offline device in
  std::atomic<int32_t> userId{-1};    // -1 when not logged in

  // Guarded by loginLock.
  int analogChannelCount = -1;
  int firstAnalogChannel = 0;
  int ipChannelCount = 0;
  int firstDigitalChannel = 0;
  std::vector<int> presentChannels;  // indices into channels, in the order found
  ChannelEntry channels[kChannelCount];
  int ipConfigLoaded = 0;
  std::string id;
  std::string ip;
  int port = 0;
  std::string userName;
  std::string password;

  // Guarded by lock.
  std::vector<Listener> listeners;

  platform::CriticalSection lock;
  platform::CriticalSection loginLock;

 protected:
  // Ends the thread (asking it to stop if Stop was not called), deletes it, deletes impl,
  // then deletes the device.
  void OnFinalRelease() override;

 private:
  void Notify(int state);
  void RunThread();
  void EndThread();
  void ReportLoginFailure(uint32_t code);

  DeviceSdk& sdk_;
  const int onlineCheckPeriodMs_;
};
