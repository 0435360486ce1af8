// Delivers alarm messages to the registered message callback on one thread of its own, one
// message at a time, from a bounded queue; nothing is delivered for an alarm handle that is
// not open. Push runs on the io thread; the other calls on any thread. The state behind
// state_ (queue, callback, open handles) is guarded by its own mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sdk/HCNetSDK.h"
#include "sdk/WireMessages.h"

namespace sdkstandin {

class AlarmDispatcher {
 public:
  struct Item {
    int32_t userId = -1;
    int32_t alarmHandle = -1;
    std::string deviceIp;
    uint16_t devicePort = 0;
    uint32_t command = 0;
    bool isFace = false;
    sdkwire::FaceAlarm face;    // when isFace
    std::vector<uint8_t> body;  // otherwise: the bytes handed to the callback as they came
  };

  static constexpr size_t kMaxQueuedAlarms = 256;
  static constexpr size_t kMaxQueuedBytes = 64 * 1024 * 1024;

  AlarmDispatcher();
  // Stops the thread (see Stop).
  ~AlarmDispatcher();
  AlarmDispatcher(const AlarmDispatcher&) = delete;
  AlarmDispatcher& operator=(const AlarmDispatcher&) = delete;

  void SetCallback(NET_DVR_MessageCallback callback, void* user);
  void OpenHandle(int32_t alarmHandle);
  // Once this returns no delivery for the handle starts, and none still runs unless this is
  // called from inside the callback.
  void CloseHandle(int32_t alarmHandle);
  // Queues an alarm; false when the queue is full (a debug line counts the drops) or stopped.
  bool Push(Item item);
  // Drops what is queued, waits for a running callback and ends the thread. Called from the
  // callback itself, it lets the thread end on its own after the callback returns.
  void Stop();

 private:
  struct State;
  static void Run(std::shared_ptr<State> state);
  static void Deliver(Item& item, NET_DVR_MessageCallback callback, void* user);

  // Shared with the thread, which may outlive this object when Stop runs on it.
  const std::shared_ptr<State> state_;
  std::thread thread_;  // touched only by the constructor and Stop
};

}  // namespace sdkstandin
