#include "platform/ServiceManager.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace platform {

namespace {

// Failures are not reported: without a service manager listening nothing is lost.
void Notify(const char* state) { ::sd_notify(0, state); }

}  // namespace

void NotifyServiceReady() { Notify("READY=1"); }
void NotifyServiceStopping() { Notify("STOPPING=1"); }
void NotifyServiceAlive() { Notify("WATCHDOG=1"); }

unsigned ServiceWatchdogPeriodMs() {
  uint64_t timeoutUs = 0;
  if (::sd_watchdog_enabled(0, &timeoutUs) <= 0 || timeoutUs == 0) return 0;
  const uint64_t periodMs = timeoutUs / 2000;
  return periodMs == 0 ? 1 : periodMs > UINT32_MAX ? UINT32_MAX : static_cast<unsigned>(periodMs);
}

}  // namespace platform
