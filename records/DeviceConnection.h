// The connection states of a camera or NVR, as its device thread notifies them to the
// device's listeners and to the metrics. Constants only; any thread.
#pragma once

enum DeviceConnection : int {
  kDeviceOffline = 0,
  kDeviceConnecting = 1,
  kDeviceOnline = 2,
};
