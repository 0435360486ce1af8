// The site check: reads a site's settings, device list and face-service file with Vestrel's own
// loaders, tells what Vestrel would do with them, and tries what can be tried without Vestrel:
// each device's login, a connection to the face service (and its TLS handshake), a probe file
// in the event folder.
// It never writes an event file. One thread runs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "config/DeviceConfig.h"
#include "config/FaceServiceConfig.h"

class LoaderLog;

struct SiteCheckOptions {
  int connectTimeoutMs = 3000;                      // face service connection
  uint64_t minimumFreeBytes = 32ull * 1024 * 1024;  // in the event folder's file system
};

class SiteCheck {
 public:
  // siteFolder is the folder that holds Config.ini and bin/.
  SiteCheck(std::string siteFolder, SiteCheckOptions options = {});
  ~SiteCheck();
  SiteCheck(const SiteCheck&) = delete;
  SiteCheck& operator=(const SiteCheck&) = delete;

  // Runs every check; false when a problem was found.
  bool Run();
  // What the site would do, one line each.
  const std::vector<std::string>& Report() const { return report_; }
  // One line per problem, naming it.
  const std::vector<std::string>& Problems() const { return problems_; }

 private:
  void ReadSettings();
  void CheckMetricsAccess();
  bool LoadDeviceList();
  void CheckDevices();
  void LoadFaceService();
  void CheckFaceService();
  // Whether the face service is reached over TLS, and for TLS the handshake with its checks.
  void CheckFaceServiceTls(const FaceServiceConfig& service);
  void CheckEventFolder();
  void CheckSpoolFolder();
  void ReportRefusedPosIds(std::size_t firstReportLine);
  void CheckPrivate(const std::string& path, const char* what);

  void Say(const std::string& line);
  void Problem(const std::string& line);
  // Adds what the loaders logged since the last call to the report; returns its last line.
  std::string ReportLoaderLines();

  const std::string siteFolder_;
  const SiteCheckOptions options_;
  std::unique_ptr<LoaderLog> loaderLog_;

  AppSettings settings_;
  DeviceTables tables_;
  std::unique_ptr<FaceServiceConfig> faceService_;
  std::string faceServiceSource_;

  std::vector<std::string> report_;
  std::vector<std::string> problems_;
};
