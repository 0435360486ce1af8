#include "tools/check/SiteCheck.h"

#include <cstring>
#include <filesystem>
#include <random>

#include "config/DeviceListLoader.h"
#include "config/FaceServiceLoader.h"
#include "config/FaceServiceType.h"
#include "device/DeviceSdk.h"
#include "device/LoginInfo.h"
#include "faceclient/ServiceHttp.h"
#include "metrics/WebConfig.h"
#include "platform/DurableFiles.h"
#include "platform/FileStatus.h"
#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "platform/TcpProbe.h"
#include "records/LoginError.h"
#include "support/StringFormat.h"
#include "tools/check/LoaderLog.h"

namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string Mebibytes(uint64_t bytes) { return std::to_string(bytes / (1024 * 1024)) + " MiB"; }

std::string Endpoint(const std::string& ip, int32_t port) {
  return ip + ":" + std::to_string(port);
}

}  // namespace

SiteCheck::SiteCheck(std::string siteFolder, SiteCheckOptions options)
    : siteFolder_(WithSlash(std::move(siteFolder))),
      options_(options),
      loaderLog_(std::make_unique<LoaderLog>()) {}

SiteCheck::~SiteCheck() = default;

void SiteCheck::Say(const std::string& line) { report_.push_back(line); }
void SiteCheck::Problem(const std::string& line) { problems_.push_back(line); }

std::string SiteCheck::ReportLoaderLines() {
  std::string last;
  for (const std::string& line : loaderLog_->Take()) {
    Say("    log: " + line);
    last = line;
  }
  return last;
}

bool SiteCheck::Run() {
  ReadSettings();
  if (LoadDeviceList()) {
    CheckDevices();
    LoadFaceService();
    CheckFaceService();
  }
  CheckEventFolder();
  CheckSpoolFolder();
  return problems_.empty();
}

void SiteCheck::ReadSettings() {
  // Vestrel finds its settings above its own folder: as if it ran from the site's bin/.
  settings_ = LoadAppSettings(siteFolder_ + "bin/vestrel", "");
  Say("Settings file: " + settings_.SettingsPath);
  if (!platform::FileExists(settings_.SettingsPath)) {
    Problem("settings file " + settings_.SettingsPath +
            " not found: every setting takes its default (events would go to \"" +
            settings_.Src_Path + "\")");
  }
  Say("  Src_Path=" + settings_.Src_Path + "  VendorName=" + settings_.VendorName +
      "  RemoteDevCfg=" + settings_.RemoteDevCfg);
  Say(StringFormat("  MaxFaceSize=%d  MaxFaceWidth=%d  MaxFaceHeight=%d  MaxCacheCount=%d  "
                   "FaceServiceWorkers=%d",
                   settings_.MaxFaceSize, settings_.MaxFaceWidth, settings_.MaxFaceHeight,
                   settings_.MaxCacheCount, settings_.FaceServiceWorkers));
  CheckMetricsAccess();
}

// The listener's access control, read as the listener reads it.
void SiteCheck::CheckMetricsAccess() {
  const std::string listen =
      "  MetricsListen=" + (settings_.MetricsListen.empty() ? "(none)" : settings_.MetricsListen);
  const std::string& path = settings_.MetricsWebConfig;
  if (path.empty()) {
    Say(listen + "  access control: off (no MetricsWebConfig)");
    return;
  }
  metrics::WebConfig access;
  std::string error;
  if (!metrics::LoadWebConfig(path, &access, &error)) {
    Say(listen + "  access control: refused");
    Problem("MetricsWebConfig " + path + " is refused (" + error +
            "): Vestrel would run without its metrics listener");
    return;
  }
  Say(listen + "  access control: on, " + access.Summary() + " (" + path + ")");
}

bool SiteCheck::LoadDeviceList() {
  const bool remote = !settings_.RemoteDevCfg.empty();
  const std::string& path = remote ? settings_.RemoteDevCfg : settings_.DevInfoPath;
  Say(std::string("Device list: ") + path + (remote ? " (remote device file)" : " (local)"));
  const bool loaded = remote ? ::LoadRemoteDevCfg(path, 1, tables_) : ::LoadDevInfo(path, tables_);
  const std::size_t firstLoaderLine = report_.size();
  const std::string why = ReportLoaderLines();
  ReportRefusedPosIds(firstLoaderLine);
  CheckPrivate(path, remote ? "remote device file" : "device list");
  if (!loaded) {
    Problem("device list " + path + " cannot be loaded (" + why +
            "): Vestrel would end at once with status 255");
    return false;
  }
  if (tables_.DeviceConfigs.empty()) Problem("device list " + path + " names no device");
  return true;
}

void SiteCheck::LoadFaceService() {
  if (!settings_.RemoteDevCfg.empty()) {
    settings_.EdgeAiCfgPath = DeriveEdgeAiCfgPath(settings_.RemoteDevCfg);
    if (settings_.EdgeAiCfgPath.empty()) {
      Say("Face service: none (the remote device file's path has no folder for EdgeAiCfg.xml)");
      return;
    }
    faceServiceSource_ = settings_.EdgeAiCfgPath;
    Say("Face service file: " + faceServiceSource_);
    const bool present = platform::FileExists(faceServiceSource_);
    if (present) CheckPrivate(faceServiceSource_, "face service file");
    const bool loaded = ::LoadEdgeAiCfg(faceServiceSource_, faceService_);
    const std::string why = ReportLoaderLines();
    if (present && !loaded) {
      Problem("face service file " + faceServiceSource_ + " cannot be loaded (" + why +
              "): Vestrel would run without a face service");
    }
    Say("Watched while running (an edit ends Vestrel with status 255 unless nothing used "
        "changed): " +
        settings_.RemoteDevCfg + ", " + faceServiceSource_);
  } else {
    faceServiceSource_ = settings_.DevInfoPath;
    Say("Face service file: " + faceServiceSource_ + " (its VFRInfo element)");
    ::LoadVfrInfo(faceServiceSource_, faceService_);
    ReportLoaderLines();
  }
}

void SiteCheck::CheckDevices() {
  Say(StringFormat("Devices: %zu, logged in in this order", tables_.DeviceConfigs.size()));
  DeviceSdk& sdk = DeviceSdk::Default();
  sdk.Init();
  for (const auto& entry : tables_.DeviceConfigs) {
    const DeviceConfig& device = entry.second;
    const auto pos = tables_.PosIdByIp.find(device.Ip);
    const std::string posId = pos != tables_.PosIdByIp.end() ? pos->second : tables_.DefaultPosId;
    std::string line = "  " + Endpoint(device.Ip, device.Port) + " user \"" + device.UserName +
                       "\"" + (device.Id.empty() ? "" : " NVR id \"" + device.Id + "\"") +
                       ", POS id \"" + posId + "\": ";
    NET_DVR_USER_LOGIN_INFO login =
        MakeLoginInfo(device.Ip, device.Port, device.UserName, device.Password);
    NET_DVR_DEVICEINFO_V40 info;
    std::memset(&info, 0, sizeof info);
    const int32_t userId = sdk.Login_V40(&login, &info);
    if (userId >= 0) {
      sdk.Logout_V30(userId);
      Say(line + "login OK");
      continue;
    }
    const uint32_t code = sdk.GetLastError();
    const std::string failure = LoginFailureText(code);
    Say(line + failure);
    Problem("device " + Endpoint(device.Ip, device.Port) + ": " + failure);
  }
  sdk.Cleanup();
  Say("Default POS id (cameras not listed): \"" + tables_.DefaultPosId + "\"");
}

void SiteCheck::CheckFaceService() {
  if (!faceService_) {
    if (!faceServiceSource_.empty()) {
      Say("Face service: none configured in " + faceServiceSource_ +
          " (events are written without identification)");
    }
    return;
  }
  const FaceServiceConfig& service = *faceService_;
  const std::string where = Endpoint(service.Ip, service.Port);
  const char* kind = FaceServiceKindName(FaceServiceKindOf(service.Type));
  std::string line = StringFormat("Face service: %s (type %d) at %s, from %s: ", kind,
                                  service.Type, where.c_str(), faceServiceSource_.c_str());
  std::string error;
  if (platform::ProbeTcpConnect(service.Ip, service.Port, options_.connectTimeoutMs, &error)) {
    Say(line + "reachable");
    CheckFaceServiceTls(service);
  } else {
    Say(line + "not reachable: " + error);
    Problem("face service " + where + " (" + kind + ") cannot be reached: " + error);
  }
}

void SiteCheck::CheckFaceServiceTls(const FaceServiceConfig& service) {
  if (!service.Tls) {
    Say("  TLS: off (plain HTTP: pictures and keys cross the network in clear)");
    return;
  }
  Say("  TLS: on, certificate checked against " +
      (service.CaFile.empty() ? std::string(ServiceHttp::kSystemTrustStore) : service.CaFile));
  std::string reason;
  if (ServiceHttp(service).Probe(&reason)) {
    Say("  TLS handshake: certificate and host name accepted");
    return;
  }
  Say("  TLS handshake: " + reason);
  Problem("face service " + Endpoint(service.Ip, service.Port) + ": TLS: " + reason);
}

// A probe file shows that the folder takes new files; its name never ends in ".txt", so the
// point-of-sale collector never takes it for an event.
void SiteCheck::CheckEventFolder() {
  const std::string& folder = settings_.Src_Path;
  const std::string label = "event folder " + folder;
  if (folder.empty() || folder[0] != '/') {
    Say("Event folder: " + folder);
    Problem(label +
            " is not an absolute path: Vestrel would take it relative to its working "
            "directory");
    return;
  }
  if (!platform::FolderExists(folder)) {
    Say("Event folder: " + folder + ": missing");
    Problem(label + " does not exist");
    return;
  }
  const std::string probe =
      WithSlash(folder) + ".vestrel-check-" + std::to_string(std::random_device{}()) + ".probe";
  std::size_t written = 0;
  int code = 0;
  const bool writable = platform::WriteWholeFile(probe, "probe", 5, &written, &code);
  platform::RemoveFile(probe);
  if (!writable) {
    Say("Event folder: " + folder + ": not writable");
    Problem(label + " is not writable: " + platform::ErrorMessage(code));
    return;
  }
  uint64_t free = 0;
  if (!platform::GetFreeSpace(folder, &free, &code)) {
    Say("Event folder: " + folder + ": writable, free space unknown");
    Problem(label + ": free space cannot be read: " + platform::ErrorMessage(code));
    return;
  }
  Say("Event folder: " + folder + ": writable, " + Mebibytes(free) + " free");
  if (free < options_.minimumFreeBytes) {
    Problem(label + " has only " + Mebibytes(free) + " free (at least " +
            Mebibytes(options_.minimumFreeBytes) + " wanted)");
  }
}

// The spool must share the event folder's file system, so that an event file is published by
// one rename; it holds faces, so nobody but Vestrel may look in.
void SiteCheck::CheckSpoolFolder() {
  namespace fs = std::filesystem;
  const std::string& spool = settings_.SpoolPath;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(spool, ec);
  if (ec || status.type() == fs::file_type::not_found) {
    Say("Spool folder: " + spool + ": missing, Vestrel makes it at start");
    return;
  }
  if (status.type() != fs::file_type::directory) {
    Say("Spool folder: " + spool + ": not a folder");
    Problem("spool folder " + spool + " is not a folder: every alarm would be refused");
    return;
  }
  std::size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(spool, ec)) {
    if (entry.is_regular_file(ec)) ++entries;
  }
  Say("Spool folder: " + spool + ": " + std::to_string(entries) + " entries waiting");
  if ((status.permissions() & (fs::perms::group_all | fs::perms::others_all)) != fs::perms::none) {
    Say("Warning: the spool folder " + spool + " holds faces and is open to other users: chmod 700 " +
        spool);
  }
  if (platform::FolderExists(settings_.Src_Path) &&
      !platform::RealDurableFiles().SameFileSystem(spool, settings_.Src_Path)) {
    Problem("spool folder " + spool + " is not on the file system of the event folder " +
            settings_.Src_Path + ": event files are copied, and one may be published twice "
            "after a crash");
  }
}

// The loader skips a device or POS unit whose POS id is not a name, so its events would go
// under the Default or nowhere: each such log line is a problem.
void SiteCheck::ReportRefusedPosIds(std::size_t firstReportLine) {
  static const std::string kLogPrefix = "    log: ";
  for (std::size_t i = firstReportLine; i < report_.size(); ++i) {
    const std::string& line = report_[i];
    if (line.find(kRefusedPosIdText) == std::string::npos) continue;
    Problem(line.compare(0, kLogPrefix.size(), kLogPrefix) == 0 ? line.substr(kLogPrefix.size())
                                                                 : line);
  }
}

// Files that hold device passwords, the face service's password or its access key: a warning
// in the report, since Vestrel runs as it is.
void SiteCheck::CheckPrivate(const std::string& path, const char* what) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::perms perms = fs::status(path, ec).permissions();
  if (ec || (perms & fs::perms::others_read) == fs::perms::none) return;
  Say(std::string("Warning: the ") + what + " " + path +
      " holds passwords and is readable by every local user: chmod o-rwx " + path);
}
