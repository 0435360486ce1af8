#include "app/VestrelDlg.h"

#include "config/DeviceListLoader.h"
#include "config/FaceServiceLoader.h"
#include "config/FileWatcher.h"
#include "device/DeviceSdk.h"
#include "device/FaceAlarmDecoder.h"
#include "device/HikNetAlarmImpl.h"
#include "device/HikNetDevice.h"
#include "faceclient/FaceClientFactory.h"
#include "faceclient/VFRClient.h"
#include "metrics/Metrics.h"
#include "platform/DebugOutput.h"
#include "platform/DurableFiles.h"
#include "platform/ProcessEnd.h"
#include "platform/ServiceManager.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"
#include "support/StageWatch.h"

namespace {

constexpr unsigned kHideTimerPeriodMs = 100;
// Two, so that one camera's costly picture leaves a thread for the others' pictures.
constexpr int kThumbnailThreads = 2;
// How long the teardown waits for the spool to take the last alarms before the face client
// stops; what it has not written by then is resumed at the next start.
constexpr int kSpoolFlushMs = 10000;

}  // namespace

CVestrelDlg::CVestrelDlg(platform::MessageLoop& loop, std::string executablePath,
                         std::string argumentText)
    : loop_(loop),
      executablePath_(std::move(executablePath)),
      argumentText_(std::move(argumentText)),
      faceClients_([this] { return CreateFaceClient(); }) {}

CVestrelDlg::~CVestrelDlg() = default;

int CVestrelDlg::DoModal() {
  OnInitDialog();
  const int exitCode = loop_.RunModal(*this);
  platform::NotifyServiceStopping();  // the teardown begins
  OnDestroy();
  return exitCode;
}

namespace {

// The watcher's callbacks run on its polling thread: they only log and post, and the dialog
// decides on the main thread.
void WatchConfigFile(const std::string& path, platform::WParam which, const char* logLine) {
  try {
    FileWatcher::Watch(path, [which, logLine](const std::string&) {
      if (logLine != nullptr) CLogHelper::GetInstance()->LogInfo(logLine);
      platform::MessageLoop::PostToMain(WM_CONFIG_CHANGED, which, 0);
    });
  } catch (const WatchedFileSystemExc& e) {
    CLogHelper::GetInstance()->LogErrorF("Not watched: %.300s", e.what());
  }
}

}  // namespace

bool CVestrelDlg::OnInitDialog() {
  // There is no window to show: it stays hidden, and the timer keeps it so.
  visible_ = false;
  loop_.SetTimer(kHideTimerId, kHideTimerPeriodMs);

  settings_ = LoadAppSettings(executablePath_, argumentText_);
  CLogHelper* log = CLogHelper::GetInstance();
  log->LogInfo("Initializing @1...");

  if (!settings_.RemoteDevCfg.empty()) {
    if (!LoadRemoteDevCfg(settings_.RemoteDevCfg)) {
      NoteStopReason("start-up failure: the remote device file " +
                     LogSafe(settings_.RemoteDevCfg) + " cannot be loaded");
      loop_.PostQuit(-1);
      return false;
    }
    RemoteDevCfg = settings_.RemoteDevCfg;
    WatchConfigFile(RemoteDevCfg, 1, nullptr);
  } else if (!LoadDevInfo(settings_.DevInfoPath)) {
    NoteStopReason("start-up failure: the device list " + LogSafe(settings_.DevInfoPath) +
                   " cannot be loaded");
    loop_.PostQuit(-1);
    return false;
  }
  log->LogInfo("Initializing @2...");

  if (!settings_.RemoteDevCfg.empty()) {
    EdgeAiCfgPath = DeriveEdgeAiCfgPath(settings_.RemoteDevCfg);
    settings_.EdgeAiCfgPath = EdgeAiCfgPath;
    if (!EdgeAiCfgPath.empty()) {
      LoadEdgeAiCfg(EdgeAiCfgPath);
      log->LogInfo("EgdeAiCfg.xml loaded...");
      WatchConfigFile(EdgeAiCfgPath, 0, "Monitoring EgdeAiCfg.xml...");
    }
  } else {
    LoadVfrInfo(settings_.DevInfoPath);
  }

  writer_ = std::make_unique<EventFileWriter>(settings_.Src_Path, settings_.VendorName);
  const bool identify = faceServiceConfig_ != nullptr;
  const int serviceType = identify ? faceServiceConfig_->Type : 0;
  spool_ = std::make_unique<Spool>(
      settings_.SpoolPath, *writer_, platform::RealDurableFiles(), identify,
      [this, serviceType](FaceSnapshot* snapshot) {
        return faceClients_.Offer(snapshot, serviceType);
      });
  metrics::SpoolLimits(SpoolLimits::kMaxEntries, SpoolLimits::kMaxBytes);
  IntakeSettings intakeSettings;
  intakeSettings.MaxFaceSize = settings_.MaxFaceSize;
  intakeSettings.MaxFaceWidth = settings_.MaxFaceWidth;
  intakeSettings.MaxFaceHeight = settings_.MaxFaceHeight;
  intakeSettings.MaxCacheCount = settings_.MaxCacheCount;
  intakeSettings.ProgramFolder = settings_.ProgramFolder;
  intakeSettings.ThumbnailThreads = kThumbnailThreads;
  intake_ = std::make_unique<SnapshotIntake>(intakeSettings, tables_.PosIdByIp,
                                             tables_.DefaultPosId, faceServiceConfig_.get(),
                                             *spool_);

  StartMetrics();
  DeviceSdk& sdk = DeviceSdk::Default();
  sdk.Init();
  sdk.SetDVRMessageCallBack_V50(0, &OnDeviceMessage,
                                static_cast<FaceAlarmHandler*>(intake_.get()));
  sdkInitialised_ = true;

  CreateDevices();

  if (faceServiceConfig_) faceClients_.GetOrCreate();
  // Resumes what an earlier run left, once the face client can take it.
  spool_->Start();

  platform::NotifyServiceReady();
  const unsigned watchdogPeriodMs = platform::ServiceWatchdogPeriodMs();
  if (watchdogPeriodMs > 0) loop_.SetTimer(kWatchdogTimerId, watchdogPeriodMs);
  return true;
}

void CVestrelDlg::OnDestroy() {
  CLogHelper* log = CLogHelper::GetInstance();
  log->LogInfoF("Stop reason: %s", stopReason_.empty() ? "unknown" : stopReason_.c_str());
  log->LogInfo("Stopping...");
  loop_.KillTimer(kHideTimerId);
  metricsListener_.Stop();
  for (CHikNetDevice* device : devices_) {
    device->Stop();
    // The device thread has ended: its fields are ours to read.
    log->LogInfoF("Device %s:%d stopped", LogSafe(device->ip).c_str(), device->port);
    device->ExternalRelease();
  }
  devices_.clear();
  tables_.DeviceConfigs.clear();
  // Snapshots still waiting for their thumbnail go on to the spool, and from there to the face
  // client, which can then go: no alarm reaches the intake once the devices are stopped.
  if (intake_) intake_->Stop();
  if (spool_) {
    if (!spool_->Flush(kSpoolFlushMs)) log->LogInfo("Spool still writing; the rest is resumed at the next start");
    spool_->DetachConsumer();
  }
  if (auto* client = dynamic_cast<VFRClient*>(faceClients_.Take())) {
    client->Stop();
    client->ExternalRelease();
    log->LogInfo("Face client stopped");
  }
  faceServiceConfig_.reset();
  // Every answer is in; what the spool cannot write now stays on disk for the next start.
  if (spool_) spool_->Stop();
  if (sdkInitialised_) {
    DeviceSdk::Default().Cleanup();
    sdkInitialised_ = false;
  }
  log->LogInfo("Stopped.");
}

void CVestrelDlg::HandleMessage(platform::MessageId message, platform::WParam wParam,
                                platform::LParam lParam) {
  switch (message) {
    case platform::kMsgSysCommand:
      OnSysCommand(wParam);
      break;
    case platform::kMsgTimer:
      OnTimer(wParam);
      break;
    case WM_CONFIG_CHANGED:
      OnConfigChanged(wParam, lParam);
      break;
    case platform::kMsgClose: {
      // The close that ends the modal loop: from a shutdown signal, or from whoever posted it.
      const char* signal = platform::ShutdownSignalName();
      NoteStopReason(signal != nullptr ? std::string("signal ") + signal : "close message");
      break;
    }
    default:
      break;
  }
}

void CVestrelDlg::OnSysCommand(platform::WParam id) {
  if ((id & 0xFFF0) == kAboutCommandId) {
    platform::DebugOutput("About Vestrel: Vestrel, Version 1.0");
  }
}

void CVestrelDlg::OnTimer(platform::WParam id) {
  visible_ = false;
  // A main loop that stops serving messages stops these, and so does a stage of the data path
  // stuck on one item: the service manager then restarts us.
  if (id != kWatchdogTimerId) return;
  const std::string stuck = StageWatch::Default().FirstStuck();
  if (stuck.empty()) {
    platform::NotifyServiceAlive();
    watchdogStuckLogged_ = false;
  } else if (!watchdogStuckLogged_) {
    watchdogStuckLogged_ = true;
    CLogHelper::GetInstance()->LogErrorF(
        "Watchdog: %s; the service manager is no longer told that Vestrel is alive",
        stuck.c_str());
  }
}

long CVestrelDlg::OnConfigChanged(platform::WParam wParam, platform::LParam /*lParam*/) {
  if (wParam == 0) {
    if (firstEdgeReport == 0) {
      CLogHelper::GetInstance()->LogInfo("EgdeAiCfg.xml changed...");
      NoteStopReason("configuration change of " + LogSafe(EdgeAiCfgPath));
      loop_.PostQuit(-1);
    }
    firstEdgeReport = 0;
  } else if (wParam == 1) {
    if (firstLoad == 0 && !LoadRemoteDevCfg(RemoteDevCfg)) {
      NoteStopReason("configuration change of " + LogSafe(RemoteDevCfg));
      loop_.PostQuit(-1);
      return 0;
    }
    firstLoad = 0;
  }
  return 0;
}

// The first reason wins: a close that follows a posted quit does not hide why it was posted.
void CVestrelDlg::NoteStopReason(const std::string& reason) {
  if (stopReason_.empty()) stopReason_ = reason;
}

bool CVestrelDlg::LoadDevInfo(const std::string& path) { return ::LoadDevInfo(path, tables_); }

bool CVestrelDlg::LoadRemoteDevCfg(const std::string& path) {
  return ::LoadRemoteDevCfg(path, firstLoad, tables_);
}

bool CVestrelDlg::LoadVfrInfo(const std::string& path) {
  return ::LoadVfrInfo(path, faceServiceConfig_);
}

bool CVestrelDlg::LoadEdgeAiCfg(const std::string& path) {
  return ::LoadEdgeAiCfg(path, faceServiceConfig_);
}

// Start-up and the intake's first alarm may both ask; the slot lets only the first create.
SnapshotConsumer* CVestrelDlg::CreateFaceClient() {
  if (!faceServiceConfig_) return nullptr;
  VFRClient* client = CreateFaceClientForType(faceServiceConfig_->Type);
  if (client == nullptr) return nullptr;
  client->Init(faceServiceConfig_.get());
  client->Start(*spool_, settings_.FaceServiceWorkers);
  return client;
}

// One device connection per configured device, in ascending order of the address text.
void CVestrelDlg::CreateDevices() {
  CHikNetImplFactory& factory = CHikNetAlarmImplFactory::Instance();
  for (const auto& entry : tables_.DeviceConfigs) {
    CHikNetDevice* device = new CHikNetDevice();
    device->impl.reset(factory.Create(device));
    device->CreateEvents();
    device->SetConfig(entry.second);
    device->StartThread();
    device->autoReconnect = 1;
    devices_.push_back(device);
    device->Login();
  }
}

// Every device is counted from the start, under its address and POS id; the listener, when
// configured, serves the counts. A listener that cannot start leaves Vestrel running without it.
void CVestrelDlg::StartMetrics() {
  for (const auto& entry : tables_.DeviceConfigs) {
    const DeviceConfig& device = entry.second;
    const auto pos = tables_.PosIdByIp.find(device.Ip);
    const bool listed = pos != tables_.PosIdByIp.end();
    metrics::RegisterDevice(device.Ip, device.Port, listed ? pos->second : tables_.DefaultPosId);
  }
  if (!settings_.MetricsListen.empty()) {
    metricsListener_.Start(settings_.MetricsListen, settings_.MetricsWebConfig);
  }
}
