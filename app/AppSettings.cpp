#include "app/AppSettings.h"

#include "platform/DebugOutput.h"
#include "platform/Profile.h"
#include "support/LogHelper.h"

namespace {

constexpr const char* kSection = "POSDataFormat";
constexpr std::size_t kVendorNameLimit = 99;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The folder above programFolder ("/opt/vestrel/bin/" gives "/opt/vestrel/"); "" when there is
// none, so that the settings file name is taken relative to the working directory.
std::string ParentFolder(const std::string& programFolder) {
  if (programFolder.empty()) return std::string();
  const std::string trimmed = programFolder.substr(0, programFolder.size() - 1);
  const std::size_t slash = trimmed.find_last_of('/');
  return slash == std::string::npos ? std::string() : trimmed.substr(0, slash + 1);
}

int32_t ClampFaceServiceWorkers(int32_t workers) {
  if (workers >= kMinFaceServiceWorkers && workers <= kMaxFaceServiceWorkers) return workers;
  const int32_t used = workers < kMinFaceServiceWorkers ? kMinFaceServiceWorkers
                                                        : kMaxFaceServiceWorkers;
  CLogHelper::GetInstance()->LogInfoF("FaceServiceWorkers=%d is outside %d to %d: %d are used",
                                      workers, kMinFaceServiceWorkers, kMaxFaceServiceWorkers,
                                      used);
  return used;
}

std::string NormaliseSrcPath(std::string path) {
  if (path.empty() || (path.back() != '/' && path.back() != '\\')) path += '/';
  return path;
}

}  // namespace

AppSettings LoadAppSettings(const std::string& executablePath, const std::string& argumentText) {
  AppSettings s;
  s.ProgramFolder = FolderOf(executablePath);
  s.DevInfoPath = s.ProgramFolder + "DevInfo.xml";
  platform::DebugOutput(s.DevInfoPath);
  s.SettingsPath = ParentFolder(s.ProgramFolder) + (argumentText.empty() ? "Config.ini" : argumentText);
  platform::DebugOutput(s.SettingsPath);

  const std::string& file = s.SettingsPath;
  // Paths are kept whole: the platform decides how long a path may be, and a shortened
  // path would name a different folder.
  s.Src_Path = NormaliseSrcPath(platform::GetProfileString(kSection, "Src_Path", "", file));
  s.SpoolPath = platform::GetProfileString(kSection, "SpoolPath", "", file);
  while (s.SpoolPath.size() > 1 && s.SpoolPath.back() == '/') s.SpoolPath.pop_back();
  if (s.SpoolPath.empty()) s.SpoolPath = DefaultSpoolPath(s.Src_Path);
  s.VendorName = platform::GetProfileString(kSection, "VendorName", "", file);
  if (s.VendorName.size() > kVendorNameLimit) s.VendorName.resize(kVendorNameLimit);
  s.RemoteDevCfg = platform::GetProfileString(kSection, "RemoteDevCfg", "", file);
  s.MaxFaceWidth = platform::GetProfileInt(kSection, "MaxFaceWidth", 200, file);
  s.MaxFaceHeight = platform::GetProfileInt(kSection, "MaxFaceHeight", 200, file);
  s.MaxFaceSize = platform::GetProfileInt(kSection, "MaxFaceSize", 12288, file);
  s.MaxCacheCount = platform::GetProfileInt(kSection, "MaxCacheCount", 10, file);
  s.MetricsListen = platform::GetProfileString(kSection, "MetricsListen", "", file);
  s.MetricsWebConfig = platform::GetProfileString(kSection, "MetricsWebConfig", "", file);
  s.FaceServiceWorkers = ClampFaceServiceWorkers(
      platform::GetProfileInt(kSection, "FaceServiceWorkers", kMinFaceServiceWorkers, file));
  return s;
}

std::string DefaultSpoolPath(const std::string& srcPath) {
  std::string folder = srcPath;
  while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  const std::size_t slash = folder.find_last_of('/');
  if (slash == std::string::npos) return "queue";
  return folder.substr(0, slash) + "/queue";
}

std::string DeriveEdgeAiCfgPath(const std::string& remoteDevCfg) {
  const std::size_t slash = remoteDevCfg.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return std::string();
  return remoteDevCfg.substr(0, slash) + "/EdgeAiCfg.xml";
}
