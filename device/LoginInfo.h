// The login parameters of the device SDK, filled from a device's address, port and
// credentials. Used by the device connections and by the site check. Stateless; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "sdk/HCNetSDK.h"

// A blocking login to ip:port. Texts are copied into the fixed fields without a terminator (a
// text that fills its field needs none); longer texts are cut at the field's end, which the
// device list loaders prevent by skipping such devices.
NET_DVR_USER_LOGIN_INFO MakeLoginInfo(const std::string& ip, int32_t port,
                                      const std::string& userName, const std::string& password);
