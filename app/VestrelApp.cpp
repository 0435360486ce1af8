#include "app/VestrelApp.h"

#include "app/VestrelDlg.h"
#include "platform/MessageLoop.h"
#include "platform/ModulePath.h"
#include "platform/ProcessEnd.h"

int CVestrelApp::InitInstance(const std::string& argumentText) {
  platform::InstallCrashHandler();
  platform::MessageLoop loop;
  platform::MessageLoop::SetMain(&loop);
  // The shutdown signals close the main window, so they are taken only once there is one.
  platform::InstallShutdownSignals();
  int exitCode = 0;
  {
    CVestrelDlg dialog(loop, platform::ModuleFileName(), argumentText);
    exitCode = dialog.DoModal();
  }
  platform::MessageLoop::SetMain(nullptr);
  return exitCode;
}
