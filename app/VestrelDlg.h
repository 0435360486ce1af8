// The hidden main dialog: runs the whole start-up on the main thread, serves the main
// thread's messages (timer, About, configuration change) and tears everything down.
// Everything here runs on the main thread. The dialog is not on the data path: the SDK's
// callback hands face alarms to the intake, the intake hands snapshots to the spool, and the face
// client's workers hand finished ones back to it. The tables, settings and face-service record are filled before
// the SDK callback is registered and are read without locks afterwards; the intake serialises
// itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "config/DeviceConfig.h"
#include "config/FaceServiceConfig.h"
#include "metrics/MetricsListener.h"
#include "pipeline/EventFileWriter.h"
#include "pipeline/FaceClientSlot.h"
#include "pipeline/SnapshotIntake.h"
#include "pipeline/Spool.h"
#include "platform/MessageLoop.h"

class CHikNetDevice;

// Posted by the configuration watcher: wParam 0 for EdgeAiCfg.xml, 1 for the remote device file.
constexpr platform::MessageId WM_CONFIG_CHANGED = platform::kMsgUser + 100;
constexpr platform::WParam kAboutCommandId = 0x10;
constexpr platform::WParam kHideTimerId = 1;
// Runs only under a service manager that expects to hear from us (systemd's watchdog).
constexpr platform::WParam kWatchdogTimerId = 2;

class CVestrelDlg : public platform::MessageHandler {
 public:
  CVestrelDlg(platform::MessageLoop& loop, std::string executablePath, std::string argumentText);
  ~CVestrelDlg() override;
  CVestrelDlg(const CVestrelDlg&) = delete;
  CVestrelDlg& operator=(const CVestrelDlg&) = delete;

  // OnInitDialog, the modal loop, then OnDestroy; returns the loop's exit code.
  int DoModal();

  bool OnInitDialog();
  void OnDestroy();
  void HandleMessage(platform::MessageId message, platform::WParam wParam,
                     platform::LParam lParam) override;
  void OnSysCommand(platform::WParam id);
  void OnTimer(platform::WParam id);
  long OnConfigChanged(platform::WParam wParam, platform::LParam lParam);

  bool LoadDevInfo(const std::string& path);
  bool LoadRemoteDevCfg(const std::string& path);
  bool LoadVfrInfo(const std::string& path);
  bool LoadEdgeAiCfg(const std::string& path);

  bool Visible() const { return visible_; }
  const AppSettings& Settings() const { return settings_; }

 private:
  void CreateDevices();
  void StartMetrics();
  void NoteStopReason(const std::string& reason);
  SnapshotConsumer* CreateFaceClient();

  platform::MessageLoop& loop_;
  const std::string executablePath_;
  const std::string argumentText_;

  // Main thread only.
  std::vector<CHikNetDevice*> devices_;  // creation order; the dialog holds one reference each
  bool visible_ = false;
  bool sdkInitialised_ = false;
  int firstLoad = 1;
  int firstEdgeReport = 1;
  bool watchdogStuckLogged_ = false;
  std::string stopReason_;  // why the modal loop ends, for the log; "" until known

  // Filled during start-up, read-only (without locks) once the SDK callback is registered.
  AppSettings settings_;
  DeviceTables tables_;  // DeviceConfigs, PosIdByIp, DefaultPosId
  std::unique_ptr<FaceServiceConfig> faceServiceConfig_;
  std::string RemoteDevCfg;
  std::string EdgeAiCfgPath;
  std::unique_ptr<EventFileWriter> writer_;
  std::unique_ptr<Spool> spool_;
  std::unique_ptr<SnapshotIntake> intake_;

  // The one face client, created by start-up or by the intake, whichever comes first.
  FaceClientSlot faceClients_;

  // Main thread only: started with the devices, stopped first at teardown.
  metrics::MetricsListener metricsListener_;
};
