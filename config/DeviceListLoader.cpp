#include "config/DeviceListLoader.h"

#include <tinyxml.h>

#include "config/XmlAttributes.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"
#include "support/StringFormat.h"

namespace {

void LogFailedToLoad() { CLogHelper::GetInstance()->LogInfo("Failed to load device info..."); }
void LogLoaded() { CLogHelper::GetInstance()->LogInfo("device info loaded..."); }

int32_t ReadPort(const TiXmlElement* element, const char* name, const std::string& ip) {
  int32_t port = 0;
  if (IntAttribute(element, name, &port) && port > 0 && port <= 65535) return port;
  CLogHelper::GetInstance()->LogInfoF("Device %.200s: port \"%.50s\" missing or invalid, using %d",
                                      LogSafe(ip).c_str(),
                                      LogSafe(TextAttribute(element, name)).c_str(),
                                      kDefaultDevicePort);
  return kDefaultDevicePort;
}

// The SDK's login fields are fixed-size; a longer text would be cut and log in to another
// address or as another user, so such a device is left out with a line that names it.
bool FitsLoginFields(const DeviceConfig& device) {
  const char* field = nullptr;
  if (device.Ip.size() > kMaxDeviceAddressLength) {
    field = "address";
  } else if (device.UserName.size() > kMaxDeviceUserNameLength) {
    field = "user name";
  } else if (device.Password.size() > kMaxDevicePasswordLength) {
    field = "password";
  }
  if (field == nullptr) return true;
  CLogHelper::GetInstance()->LogErrorF(
      "Device %.200s skipped: its %s is longer than the device SDK accepts",
      LogSafe(device.Ip).c_str(), field);
  return false;
}

// The attribute names of a device element; the two files spell them differently.
struct DeviceAttributes {
  const char* ip;
  const char* port;
  const char* id;  // null: the file has no device ids
  const char* userName;
  const char* password;
};
constexpr DeviceAttributes kDevInfoAttributes{"ip", "port", nullptr, "username", "password"};
constexpr DeviceAttributes kRemoteAttributes{"IP", "Port", "ID", "UserName", "Password"};

DeviceConfig ReadDevice(const TiXmlElement* e, const DeviceAttributes& names) {
  DeviceConfig device;
  device.Ip = TextAttribute(e, names.ip);
  device.Port = ReadPort(e, names.port, device.Ip);
  if (names.id != nullptr) device.Id = TextAttribute(e, names.id);
  device.UserName = TextAttribute(e, names.userName);
  device.Password = TextAttribute(e, names.password);
  return device;
}

// Logs the refusal of a POS id read for what (a device, a unit, the Default).
bool CheckPosId(const std::string& posId, const std::string& what) {
  if (IsUsablePosId(posId)) return true;
  CLogHelper::GetInstance()->LogErrorF("%.200s skipped: POS id \"%.200s\" %s", LogSafe(what).c_str(),
                                       LogSafe(posId).c_str(), kRefusedPosIdText);
  return false;
}

const TiXmlElement* Child(const TiXmlNode* parent, const char* name) {
  return parent != nullptr ? parent->FirstChildElement(name) : nullptr;
}

}  // namespace

bool IsUsablePosId(const std::string& posId) {
  if (posId.find_first_not_of(" \t\r\n") == std::string::npos) return false;
  return posId.find_first_of(std::string("/\\\0", 3)) == std::string::npos &&
         posId.find("..") == std::string::npos;
}

bool LoadDevInfo(const std::string& path, DeviceTables& tables) {
  TiXmlDocument document;
  if (!LoadXmlFile(path, document)) return false;
  const TiXmlElement* root = document.RootElement();
  const TiXmlElement* list = Child(root, "DeviceList");
  if (list == nullptr) {
    LogFailedToLoad();
    return false;
  }
  for (const TiXmlElement* e = list->FirstChildElement("Device"); e != nullptr;
       e = e->NextSiblingElement("Device")) {
    const DeviceConfig device = ReadDevice(e, kDevInfoAttributes);
    if (!FitsLoginFields(device)) continue;
    const std::string posId = TextAttribute(e, "POSID");
    if (!CheckPosId(posId, "Device " + device.Ip)) continue;
    tables.PosIdByIp[device.Ip] = posId;
    tables.DeviceConfigs[device.Ip] = device;
  }
  if (const TiXmlElement* def = Child(root, "Default")) {
    const char* posId = def->Attribute("POSID");
    if (posId != nullptr && CheckPosId(posId, "Default")) tables.DefaultPosId = posId;
  }
  LogLoaded();
  return true;
}

bool LoadRemoteDevCfg(const std::string& path, int firstLoad, DeviceTables& tables) {
  TiXmlDocument document;
  if (!LoadXmlFile(path, document)) return false;
  const TiXmlElement* root = document.RootElement();
  const TiXmlElement* nvrs = Child(root, "NVR_PRTY");
  if (nvrs == nullptr) {
    LogFailedToLoad();
    return false;
  }
  for (const TiXmlElement* e = nvrs->FirstChildElement("NVR"); e != nullptr;
       e = e->NextSiblingElement("NVR")) {
    const DeviceConfig device = ReadDevice(e, kRemoteAttributes);
    if (!FitsLoginFields(device)) continue;
    if (firstLoad) {
      tables.DeviceConfigs[device.Ip] = device;
      continue;
    }
    const auto known = tables.DeviceConfigs.find(device.Ip);
    if (known == tables.DeviceConfigs.end() || known->second.Port != device.Port ||
        known->second.Id != device.Id || known->second.UserName != device.UserName ||
        known->second.Password != device.Password) {
      return false;
    }
  }

  const TiXmlElement* definition = Child(Child(root, "POSUNITS_PRTY"), "PosUnitsDefinition");
  if (definition == nullptr) {
    LogFailedToLoad();
    return false;
  }
  for (const TiXmlElement* e = definition->FirstChildElement("PosUnit"); e != nullptr;
       e = e->NextSiblingElement("PosUnit")) {
    PosUnit unit;
    unit.Id = TextAttribute(e, "ID");
    unit.NvrId = TextAttribute(e, "NVRID");
    if (!IntAttribute(e, "Ch", &unit.Ch) || unit.Ch != 1) continue;
    if (!CheckPosId(unit.Id, "PosUnit of NVR " + unit.NvrId)) continue;
    for (const auto& [ip, device] : tables.DeviceConfigs) {
      if (device.Id != unit.NvrId) continue;
      if (firstLoad) {
        tables.PosIdByIp[ip] = unit.Id;
        break;
      }
      // A device without an entry compares as an empty POS id; the live table is not touched.
      const auto mapped = tables.PosIdByIp.find(ip);
      const std::string current = mapped != tables.PosIdByIp.end() ? mapped->second : std::string();
      if (current != unit.Id) return false;
    }
  }
  if (firstLoad) tables.DefaultPosId = "1";
  LogLoaded();
  return true;
}
