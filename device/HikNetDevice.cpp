#include "device/HikNetDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>

#include "device/LoginInfo.h"
#include "metrics/Metrics.h"
#include "platform/DebugOutput.h"
#include "platform/MessageLoop.h"
#include "records/DeviceConnection.h"
#include "records/LoginError.h"
#include "support/StringFormat.h"

namespace {

static_assert(kLoginWrongPassword == NET_DVR_PASSWORD_ERROR &&
                  kLoginNoFreeLink == NET_DVR_OVER_MAXLINK &&
                  kLoginVersionMismatch == NET_DVR_VERSION_MISMATCH &&
                  kLoginUnreachable == NET_DVR_NETWORK_FAIL_CONNECT,
              "login error codes are the SDK's");
constexpr std::size_t kThreadNameLength = 15;

// "dev " and the address; when too long for a thread name, its end, which tells devices apart.
std::string ThreadName(const std::string& ip) {
  std::string name = ip.empty() ? "dev" : "dev " + ip;
  if (name.size() > kThreadNameLength) name = name.substr(name.size() - kThreadNameLength);
  return name;
}

// Serves one waiting message of the main loop, so a wait on the UI thread keeps it responsive.
void PumpOneMessage() {
  if (platform::MessageLoop* loop = platform::MessageLoop::Main()) loop->PumpOne();
}

}  // namespace

CHikNetDevice::CHikNetDevice(DeviceSdk& sdk, int onlineCheckPeriodMs)
    : sdk_(sdk), onlineCheckPeriodMs_(onlineCheckPeriodMs) {
  sdk_.Init();
}

CHikNetDevice::~CHikNetDevice() {
  EndThread();
  impl.reset();
  sdk_.Cleanup();
  platform::ScopedLock guard(lock);
  listeners.clear();
}

void CHikNetDevice::CreateEvents() {
  if (loginEvent == nullptr) loginEvent = std::make_unique<platform::Event>(false, false);
  if (stopEvent == nullptr) stopEvent = std::make_unique<platform::Event>(true, false);
}

void CHikNetDevice::StartThread() {
  if (thread != nullptr) return;
  CreateEvents();
  std::string name;
  {
    platform::ScopedLock guard(loginLock);
    name = ThreadName(ip);
  }
  thread = std::make_unique<platform::Thread>(name, &CHikNetDevice::DeviceThreadProc, this);
  thread->Resume();
}

void CHikNetDevice::SetConfig(const DeviceConfig& config) {
  platform::ScopedLock guard(loginLock);
  id = config.Id;
  ip = config.Ip;
  port = config.Port;
  userName = config.UserName;
  password = config.Password;
}

int CHikNetDevice::Login() {
  platform::ScopedLock guard(loginLock);
  if (userId != -1) Logout();

  NET_DVR_USER_LOGIN_INFO loginInfo = MakeLoginInfo(ip, port, userName, password);
  NET_DVR_DEVICEINFO_V40 deviceInfo;
  std::memset(&deviceInfo, 0, sizeof deviceInfo);

  const int32_t result = sdk_.Login_V40(&loginInfo, &deviceInfo);
  if (result < 0) {
    ReportLoginFailure(sdk_.GetLastError());
    return -1;
  }
  userId = result;
  metrics::DeviceLogin(ip, port, true);
  const NET_DVR_DEVICEINFO_V30& info = deviceInfo.struDeviceV30;
  analogChannelCount = info.byChanNum;
  firstAnalogChannel = info.byStartChan;
  ipChannelCount = info.byIPChanNum;
  firstDigitalChannel = info.byStartDChan;
  LoadChannels();
  Notify(kDeviceOnline);
  if (loginEvent != nullptr) loginEvent->Set();
  return 0;
}

void CHikNetDevice::ReportLoginFailure(uint32_t code) {
  metrics::DeviceLogin(ip, port, false, code);
  switch (code) {
    case kLoginWrongPassword:
      platform::DebugOutput("Password error!");
      break;
    case kLoginNoFreeLink:
      platform::DebugOutput("Over maximum link!");
      break;
    case kLoginVersionMismatch:
      platform::DebugOutput("Net device version mismatch!");
      break;
    case kLoginUnreachable:
      Notify(kDeviceOffline);
      break;
    default:
      platform::DebugOutput(
          StringFormat("Login Network device failed: %d", static_cast<int>(code)));
      break;
  }
}

int CHikNetDevice::Logout() {
  platform::ScopedLock guard(loginLock);
  if (userId >= 0) {
    sdk_.Logout_V30(userId);
    userId = -1;
    Notify(kDeviceOffline);
  }
  return 0;
}

void CHikNetDevice::LoadChannels() {
  // 50 KB: too much for the stack of a thread that also runs listeners.
  auto config = std::make_unique<NET_DVR_IPPARACFG_V40>();
  std::memset(config.get(), 0, sizeof *config);
  uint32_t bytesReturned = 0;
  ipConfigLoaded = sdk_.GetDVRConfig(userId, NET_DVR_GET_IPPARACFG_V40, 0, config.get(),
                                     sizeof *config, &bytesReturned);

  std::vector<int>().swap(presentChannels);

  for (int i = 0; i < kAnalogChannelEntries; ++i) {
    ChannelEntry& entry = channels[i];
    if (i < analogChannelCount) {
      std::snprintf(entry.name, sizeof entry.name, "camera%d", firstAnalogChannel + i);
      entry.number = firstAnalogChannel + i;
      presentChannels.push_back(i);
      entry.enabled = ipConfigLoaded ? config->byAnalogChanEnable[i] : 1;
    } else {
      entry.number = -1;
      entry.name[0] = '\0';
      entry.enabled = 0;
    }
  }

  if (!ipConfigLoaded) return;
  for (int i = 0; i < kChannelCount - kAnalogChannelEntries; ++i) {
    ChannelEntry& entry = channels[kAnalogChannelEntries + i];
    if (i < ipChannelCount) {
      std::snprintf(entry.name, sizeof entry.name, "IP Camera %d", i + 1);
      entry.number = static_cast<int>(config->dwStartDChan) + i;
      entry.enabled = config->struStreamMode[i].uGetStream.struChanInfo.byEnable;
      presentChannels.push_back(kAnalogChannelEntries + i);
    } else {
      entry.enabled = 0;
      entry.number = -1;
    }
  }
}

int CHikNetDevice::CheckOnline() {
  const int result = sdk_.RemoteControl(userId, NET_DVR_CHECK_USER_STATUS, nullptr, 0);
  if (result != 0) {
    if (impl != nullptr) impl->OnHeartbeat();
    return result;
  }
  platform::DebugOutput(
      StringFormat("=====%08x====\n", static_cast<unsigned>(sdk_.GetLastError())));
  return 0;
}

int CHikNetDevice::AddListener(ListenerCallback callback, void* user) {
  if (callback == nullptr) return -1;
  platform::ScopedLock guard(lock);
  for (const Listener& listener : listeners) {
    if (listener.callback == callback) return -1;
  }
  listeners.push_back(Listener{callback, user});
  return 0;
}

int CHikNetDevice::RemoveListener(ListenerCallback callback, void* /*user*/) {
  platform::ScopedLock guard(lock);
  for (auto it = listeners.begin(); it != listeners.end(); ++it) {
    if (it->callback == callback) {
      listeners.erase(it);
      return 0;
    }
  }
  return -1;
}

void CHikNetDevice::Notify(int state) {
  metrics::DeviceState(ip, port, state);
  platform::ScopedLock guard(lock);
  // By index and by copy: a listener may add or remove listeners.
  for (std::size_t i = 0; i < listeners.size(); ++i) {
    const Listener listener = listeners[i];
    listener.callback(state, listener.user);
  }
}

void CHikNetDevice::Stop() {
  {
    // The device thread may be inside a blocking login or check; keep serving messages.
    while (!loginLock.TryLock()) {
      PumpOneMessage();
      platform::SleepMs(kLoginLockPollMs);
    }
    platform::ScopedLock guard(loginLock, std::adopt_lock);
    Logout();
    // Set under loginLock: once it is set the thread makes no more calls or notifications.
    if (stopEvent != nullptr) stopEvent->Set();
  }
  while (thread != nullptr) {
    if (thread->Join(kStopWaitSliceMs)) break;
    PumpOneMessage();
  }
}

unsigned CHikNetDevice::DeviceThreadProc(void* arg) {
  auto* device = static_cast<CHikNetDevice*>(arg);
  if (device == nullptr) return 1;
  try {
    device->RunThread();
  } catch (const std::exception& e) {
    platform::DebugOutput(std::string("Device thread ended by an error: ") + e.what());
  } catch (...) {
    platform::DebugOutput("Device thread ended by an unknown error");
  }
  return 0;
}

void CHikNetDevice::RunThread() {
  int state = kDeviceOnline;
  for (;;) {
    const int woken =
        platform::WaitForAny({stopEvent.get(), loginEvent.get()}, onlineCheckPeriodMs_);
    if (woken == 0) break;
    if (woken == 1) state = kDeviceOnline;

    platform::ScopedLock guard(loginLock);
    // Stop sets the event under loginLock after its logout: nothing may follow that.
    if (stopEvent != nullptr && stopEvent->Wait(0)) break;
    switch (state) {
      case kDeviceOffline:
        if (autoReconnect != 0) {
          Notify(kDeviceConnecting);
          state = kDeviceConnecting;
        }
        break;
      case kDeviceConnecting:
        state = Login() == 0 ? kDeviceOnline : kDeviceOffline;
        Notify(state);
        break;
      default:
        if (CheckOnline() == 0) {
          if (userId != -1) {
            Logout();
            Notify(kDeviceOffline);
          }
          state = kDeviceOffline;
        }
        break;
    }
  }

  platform::ScopedLock guard(loginLock);
  if (userId != -1 && sdk_.Logout_V30(userId) != 0) userId = -1;
}

void CHikNetDevice::EndThread() {
  if (thread == nullptr) return;
  if (stopEvent != nullptr) stopEvent->Set();
  thread.reset();  // joins
}

void CHikNetDevice::OnFinalRelease() {
  EndThread();
  impl.reset();
  CCmdTarget::OnFinalRelease();
}
