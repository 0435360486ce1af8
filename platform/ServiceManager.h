// Tells the service manager (systemd) how the service is doing: ready once start-up is done,
// alive at every watchdog tick, stopping when teardown begins. Outside a service manager every
// call does nothing, so the same program runs by hand. Stateless; any thread.
#pragma once

namespace platform {

void NotifyServiceReady();
void NotifyServiceStopping();
void NotifyServiceAlive();

// How often to report alive, in milliseconds: half of the watchdog time-out the service
// manager expects, or 0 when it expects none.
unsigned ServiceWatchdogPeriodMs();

}  // namespace platform
