// The site settings from section [POSDataFormat] of the settings file, and the paths
// derived from where the executable is. Filled once at start-up on the UI thread, read-only
// (and read without a lock) afterwards.
#pragma once

#include <cstdint>
#include <string>

constexpr int32_t kMinFaceServiceWorkers = 1;
constexpr int32_t kMaxFaceServiceWorkers = 16;

struct AppSettings {
  std::string Src_Path;      // event file folder, always ending in a separator
  // The durable spool of accepted snapshots, without a trailing separator; absent: the folder
  // "queue" beside the event folder, so that both lie on one file system.
  std::string SpoolPath;
  std::string VendorName;    // at most 99 characters
  std::string RemoteDevCfg;  // remote device file; empty selects the local DevInfo.xml
  int32_t MaxFaceWidth = 200;
  int32_t MaxFaceHeight = 200;
  int32_t MaxFaceSize = 12288;  // compared as unsigned
  int32_t MaxCacheCount = 10;   // compared as unsigned
  std::string MetricsListen;    // "IP:PORT" of the metrics listener; empty: none
  // Web configuration file of the metrics listener (TLS, basic auth); empty: neither.
  std::string MetricsWebConfig;
  // Face-client workers asking the face service at once, kMinFaceServiceWorkers to
  // kMaxFaceServiceWorkers (a value outside is clamped, with one log line).
  int32_t FaceServiceWorkers = 1;

  std::string ProgramFolder;  // folder of the executable, ending in '/'
  std::string DevInfoPath;    // ProgramFolder + "DevInfo.xml"
  std::string SettingsPath;   // the settings file read
  std::string EdgeAiCfgPath;  // set by DeriveEdgeAiCfgPath
};

// Computes the paths from the executable's path and the command-line argument text
// (empty: "Config.ini"), writes DevInfoPath and SettingsPath to the debug output and reads
// the keys. Cannot fail: whatever is missing takes its default.
AppSettings LoadAppSettings(const std::string& executablePath, const std::string& argumentText);

// The spool folder used when the settings name none: "queue" beside the event folder.
std::string DefaultSpoolPath(const std::string& srcPath);

// The folder of remoteDevCfg followed by "/EdgeAiCfg.xml", or "" when it has no folder part.
std::string DeriveEdgeAiCfgPath(const std::string& remoteDevCfg);
