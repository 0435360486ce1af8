// A device's functional object: something that follows the connection state of one
// CHikNetDevice as one of its listeners, and the factory that makes one for a device.
// Create the object before the device's thread starts and delete it after the thread has
// ended (CHikNetDevice::OnFinalRelease does both in order). Its operations run on the thread
// that notifies the device's listeners, with the device's `lock` held, which also guards
// `status`.
#pragma once

#include <cstdint>

class CHikNetDevice;

class CHikNetImpl {
 public:
  // Registers the object as a listener of the device; the result is not examined.
  explicit CHikNetImpl(CHikNetDevice* device);
  // Removes the object's listener from its device.
  virtual ~CHikNetImpl() = 0;
  CHikNetImpl(const CHikNetImpl&) = delete;
  CHikNetImpl& operator=(const CHikNetImpl&) = delete;

  // Starts and stops the object's function on the device; 0 on success.
  virtual int Open();
  virtual int Close();
  // Command hooks for functional objects that take them; the alarm channel does not.
  virtual int Control(int32_t command, int32_t param1, int32_t param2);
  virtual int Query(int32_t command, int32_t param1, int32_t param2);
  // After every successful online check, on the device thread.
  virtual void OnHeartbeat();
  // Every notified state (a DeviceConnection); the base stores it in `status`.
  virtual void OnStatusChanged(int state);

  CHikNetDevice* const device;  // not owned
  int status = 0;               // last state received

 private:
  static void StatusCallback(int state, void* user);
};

class CHikNetImplFactory {
 public:
  CHikNetImplFactory() = default;
  virtual ~CHikNetImplFactory() = default;
  CHikNetImplFactory(const CHikNetImplFactory&) = delete;
  CHikNetImplFactory& operator=(const CHikNetImplFactory&) = delete;

  // A new object bound to the device (null when memory runs out); the caller stores it in
  // the device's `impl`, which owns it from then on.
  virtual CHikNetImpl* Create(CHikNetDevice* device) = 0;
};
