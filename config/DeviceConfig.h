// The configured devices and the POS id tables that the device list loaders fill.
// Filled on the UI thread at start-up before any other thread reads them; read without a
// lock afterwards. Compare-mode reads of an edited remote file never write them.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// The port used when a device's port attribute is missing, not a number or out of range.
constexpr int32_t kDefaultDevicePort = 8000;

// Longest texts the device SDK's login fields hold, in bytes.
constexpr std::size_t kMaxDeviceAddressLength = 128;
constexpr std::size_t kMaxDeviceUserNameLength = 64;
constexpr std::size_t kMaxDevicePasswordLength = 64;

struct DeviceConfig {
  std::string Id;  // NVR id of the remote file; empty for DevInfo.xml devices
  std::string Ip;
  int32_t Port = kDefaultDevicePort;
  std::string UserName;
  std::string Password;
};

// std::map<std::string, ...> orders keys byte-wise, so 10.0.0.10 sorts before 10.0.0.2.
using DeviceConfigMap = std::map<std::string, DeviceConfig>;
using PosIdMap = std::map<std::string, std::string>;

struct DeviceTables {
  DeviceConfigMap DeviceConfigs;
  PosIdMap PosIdByIp;
  std::string DefaultPosId;
};

// One POS unit of the remote device file; used only while loading.
struct PosUnit {
  std::string Id;
  std::string NvrId;
  int32_t Ch = 0;
};
