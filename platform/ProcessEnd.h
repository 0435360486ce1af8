// How the process ends. The crash handler writes "[tq] Unhandled exception, exiting..." to
// the debug output on a fatal signal or std::terminate and ends the process. The shutdown
// signals (SIGTERM, SIGINT, SIGHUP) close the main window: a close message is posted to the
// main message loop; a second such signal ends the process at once.
// Install both on the main thread, before other threads start.
#pragma once

namespace platform {

void InstallCrashHandler();
void InstallShutdownSignals();

// The name of the shutdown signal ("SIGTERM", "SIGINT" or "SIGHUP") that posted the close
// message, or null when none has come. Any thread; set before the close message is posted.
const char* ShutdownSignalName();

// Leaves no core file behind if the process crashes (for processes that crash on purpose).
void DisableCoreFiles();

// Ends the process with this status without running static destructors' teardown beyond
// what the host system does for a normal exit.
[[noreturn]] void ExitProcess(int status);

}  // namespace platform
