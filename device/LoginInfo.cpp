#include "device/LoginInfo.h"

#include <algorithm>
#include <cstring>

namespace {

void CopyField(char* field, std::size_t fieldSize, const std::string& text) {
  std::memcpy(field, text.data(), std::min(fieldSize, text.size()));
}

}  // namespace

NET_DVR_USER_LOGIN_INFO MakeLoginInfo(const std::string& ip, int32_t port,
                                      const std::string& userName, const std::string& password) {
  NET_DVR_USER_LOGIN_INFO info;
  std::memset(&info, 0, sizeof info);
  CopyField(info.sDeviceAddress, sizeof info.sDeviceAddress, ip);
  CopyField(info.sUserName, sizeof info.sUserName, userName);
  CopyField(info.sPassword, sizeof info.sPassword, password);
  info.wPort = static_cast<uint16_t>(port & 0xFFFF);
  info.bUseAsynLogin = 0;
  return info;
}
