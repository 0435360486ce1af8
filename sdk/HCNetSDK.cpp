// The library's entry points: reference-counted start and stop of the runtime, the
// per-thread last error, and a barrier that keeps every exception inside the library.
#include "sdk/HCNetSDK.h"

#include <exception>
#include <memory>
#include <mutex>

#include "platform/DebugOutput.h"
#include "sdk/SdkRuntime.h"

namespace {

using sdkstandin::SdkRuntime;

thread_local uint32_t t_lastError = NET_DVR_NOERROR;

// Guards the count of initialisations in force and the runtime they share.
std::mutex g_mutex;
int g_initCount = 0;
std::shared_ptr<SdkRuntime> g_runtime;

std::shared_ptr<SdkRuntime> Runtime() {
  std::lock_guard<std::mutex> guard(g_mutex);
  return g_runtime;
}

// Runs one call against the runtime; sets the last error from its outcome.
template <typename Result, typename Call>
Result Guarded(Result failure, Call call) {
  uint32_t error = NET_DVR_NOERROR;
  Result result = failure;
  try {
    std::shared_ptr<SdkRuntime> runtime = Runtime();
    if (!runtime) {
      error = NET_DVR_NOT_INITIALIZED;
    } else {
      result = call(*runtime, &error);
    }
  } catch (const std::exception& e) {
    platform::DebugOutput(std::string("SDK call failed: ") + e.what());
    error = NET_DVR_PARAMETER_ERROR;
    result = failure;
  } catch (...) {
    error = NET_DVR_PARAMETER_ERROR;
    result = failure;
  }
  if (result == failure && error == NET_DVR_NOERROR) error = NET_DVR_PARAMETER_ERROR;
  t_lastError = result == failure ? error : NET_DVR_NOERROR;
  return result;
}

int Fail(uint32_t error) {
  t_lastError = error;
  return 0;
}

}  // namespace

extern "C" {

int NET_DVR_Init(void) {
  try {
    std::lock_guard<std::mutex> guard(g_mutex);
    if (g_initCount == 0) g_runtime = std::make_shared<SdkRuntime>();
    ++g_initCount;
  } catch (const std::exception& e) {
    platform::DebugOutput(std::string("SDK initialisation failed: ") + e.what());
    return Fail(NET_DVR_NOT_INITIALIZED);
  }
  t_lastError = NET_DVR_NOERROR;
  return 1;
}

int NET_DVR_Cleanup(void) {
  std::shared_ptr<SdkRuntime> last;
  {
    std::lock_guard<std::mutex> guard(g_mutex);
    if (g_initCount == 0) return Fail(NET_DVR_NOT_INITIALIZED);
    if (--g_initCount == 0) last.swap(g_runtime);
  }
  // Outside the lock: the shutdown waits for the library's threads.
  if (last) {
    try {
      last->Shutdown();
    } catch (...) {
      platform::DebugOutput("SDK clean-up failed");
    }
  }
  t_lastError = NET_DVR_NOERROR;
  return 1;
}

int NET_DVR_SetDVRMessageCallBack_V50(int iIndex, NET_DVR_MessageCallback fMessageCallBack,
                                      void* pUser) {
  return Guarded(0, [&](SdkRuntime& runtime, uint32_t* error) {
    return runtime.SetCallback(iIndex, fMessageCallBack, pUser, error) ? 1 : 0;
  });
}

int32_t NET_DVR_Login_V40(NET_DVR_USER_LOGIN_INFO* pLoginInfo,
                          NET_DVR_DEVICEINFO_V40* lpDeviceInfo) {
  return Guarded(int32_t{-1}, [&](SdkRuntime& runtime, uint32_t* error) -> int32_t {
    if (!pLoginInfo) {
      *error = NET_DVR_PARAMETER_ERROR;
      return -1;
    }
    return runtime.Login(*pLoginInfo, lpDeviceInfo, error);
  });
}

int NET_DVR_Logout_V30(int32_t lUserID) {
  return Guarded(0, [&](SdkRuntime& runtime, uint32_t* error) {
    return runtime.Logout(lUserID, error) ? 1 : 0;
  });
}

uint32_t NET_DVR_GetLastError(void) { return t_lastError; }

int NET_DVR_GetDVRConfig(int32_t lUserID, uint32_t dwCommand, int32_t, void* lpOutBuffer,
                         uint32_t dwOutBufferSize, uint32_t* lpBytesReturned) {
  return Guarded(0, [&](SdkRuntime& runtime, uint32_t* error) {
    if (dwCommand != NET_DVR_GET_IPPARACFG_V40) {
      *error = NET_DVR_UNSUPPORTED_COMMAND;
      return 0;
    }
    if (!lpOutBuffer || dwOutBufferSize < sizeof(NET_DVR_IPPARACFG_V40)) {
      *error = NET_DVR_PARAMETER_ERROR;
      return 0;
    }
    if (!runtime.GetIpConfig(lUserID, static_cast<NET_DVR_IPPARACFG_V40*>(lpOutBuffer), error)) {
      return 0;
    }
    if (lpBytesReturned) *lpBytesReturned = sizeof(NET_DVR_IPPARACFG_V40);
    return 1;
  });
}

int NET_DVR_RemoteControl(int32_t lUserID, uint32_t dwCommand, void*, uint32_t) {
  return Guarded(0, [&](SdkRuntime& runtime, uint32_t* error) {
    if (dwCommand != NET_DVR_CHECK_USER_STATUS) {
      *error = NET_DVR_UNSUPPORTED_COMMAND;
      return 0;
    }
    return runtime.CheckUser(lUserID, error) ? 1 : 0;
  });
}

int32_t NET_DVR_SetupAlarmChan_V50(int32_t lUserID, NET_DVR_SETUPALARM_PARAM_V50* lpSetupParam,
                                   char*, uint32_t) {
  return Guarded(int32_t{-1}, [&](SdkRuntime& runtime, uint32_t* error) -> int32_t {
    if (!lpSetupParam) {
      *error = NET_DVR_PARAMETER_ERROR;
      return -1;
    }
    return runtime.SetupAlarm(lUserID, error);
  });
}

int NET_DVR_CloseAlarmChan_V30(int32_t lAlarmHandle) {
  return Guarded(0, [&](SdkRuntime& runtime, uint32_t* error) {
    return runtime.CloseAlarm(lAlarmHandle, error) ? 1 : 0;
  });
}

}  // extern "C"
