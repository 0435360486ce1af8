// End-to-end test harness: a Vestrel site in a temporary folder (settings, device list,
// logging configuration, a copy of the executable) and simulated cameras, each a real
// vestrel-camsim process on its own loopback address. One test thread drives it; every wait
// is bounded, and every process started is stopped by its PID when the objects go.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/Subprocess.h"
#include "tests/support/CamSimProcess.h"
#include "tests/support/TempDir.h"

namespace e2e {

namespace fs = std::filesystem;

// Waits until the condition holds, polling every 50 ms; false after timeoutMs.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// A loopback address that no other camera of this run is likely to use; the port comes
// from the simulator, so parallel test processes do not collide.
inline std::string UniqueLoopbackIp() {
  static std::mt19937 rng{std::random_device{}()};
  static int next = 0;
  std::uniform_int_distribution<int> b(1, 250);
  return "127." + std::to_string(b(rng)) + "." + std::to_string(b(rng)) + "." +
         std::to_string(2 + (next++ % 250));
}

inline int CountOccurrences(const std::string& text, const std::string& fragment) {
  int n = 0;
  for (std::size_t at = text.find(fragment); at != std::string::npos;
       at = text.find(fragment, at + fragment.size())) {
    ++n;
  }
  return n;
}

// One simulated camera on its own loopback address, with a port it picks itself.
class Camera {
 public:
  explicit Camera(std::vector<std::string> extraArguments = {}, std::string user = "admin",
                  std::string password = "secret")
      : user_(std::move(user)),
        password_(std::move(password)),
        simulator_(UniqueLoopbackIp(), Arguments(user_, password_, std::move(extraArguments))) {
    EXPECT_TRUE(simulator_.Started()) << simulator_.Errors();
  }

  const std::string& Ip() const { return simulator_.Ip(); }
  int Port() const { return simulator_.Port(); }
  const std::string& User() const { return user_; }
  const std::string& Password() const { return password_; }
  bool Send(const std::string& command) { return simulator_.Command(command); }
  std::string Output() { return simulator_.Output(); }
  bool WaitForOutput(const std::string& fragment, int timeoutMs, int count = 1) {
    return WaitFor([&] { return CountOccurrences(Output(), fragment) >= count; }, timeoutMs);
  }

 private:
  static std::vector<std::string> Arguments(const std::string& user, const std::string& password,
                                            std::vector<std::string> extra) {
    std::vector<std::string> all = {"--user", user, "--password", password};
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  }

  const std::string user_;
  const std::string password_;
  sdktest::CamSimProcess simulator_;
};

struct DeviceEntry {
  std::string ip;
  int port;
  std::string user;
  std::string password;
  std::string posId;
  bool withPosId = true;
};

// A site: SITE/Config.ini, SITE/bin/{vestrel, DevInfo.xml, Logger.properties}, SITE/events/.
class Site {
 public:
  Site() {
    fs::create_directories(root_.File("bin"));
    fs::copy_file(VESTREL_EXE, Exe(), fs::copy_options::overwrite_existing);
    root_.Write("bin/Logger.properties",
                "log4cplus.rootLogger=DEBUG, FILE\n"
                "log4cplus.appender.FILE=log4cplus::FileAppender\n"
                "log4cplus.appender.FILE.File=${VESTREL_PROGRAM_FOLDER}vestrel.log\n"
                "log4cplus.appender.FILE.layout=log4cplus::PatternLayout\n"
                "log4cplus.appender.FILE.layout.ConversionPattern="
                "%D{%H:%M:%S.%q} %-5p %m%n\n");
  }
  ~Site() { StopVestrel(); }
  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;

  const TempDir& Root() const { return root_; }
  std::string Exe() const { return root_.File("bin/vestrel"); }
  std::string EventsDir() const { return root_.Path() + "events/"; }

  void WriteSettings(const std::string& extraLines = "", const std::string& name = "Config.ini") {
    root_.Write(name, "[POSDataFormat]\nSrc_Path=" + EventsDir() +
                          "\nVendorName=E2E Shop\n" + extraLines);
  }
  void WriteDevInfo(const std::vector<DeviceEntry>& devices, const std::string& defaultPosId = "") {
    std::string xml = "<DevInfo>\n  <DeviceList>\n";
    for (const auto& d : devices) {
      xml += "    <Device ip=\"" + d.ip + "\" port=\"" + std::to_string(d.port) + "\" username=\"" +
             d.user + "\" password=\"" + d.password + "\"" +
             (d.withPosId ? " POSID=\"" + d.posId + "\"" : "") + "/>\n";
    }
    xml += "  </DeviceList>\n";
    if (!defaultPosId.empty()) xml += "  <Default POSID=\"" + defaultPosId + "\"/>\n";
    xml += "</DevInfo>\n";
    root_.Write("bin/DevInfo.xml", xml);
  }
  static DeviceEntry Entry(const Camera& camera, const std::string& posId) {
    return {camera.Ip(), camera.Port(), camera.User(), camera.Password(), posId, true};
  }

  bool StartVestrel(std::vector<std::string> arguments = {},
                    std::vector<std::pair<std::string, std::string>> environment = {}) {
    platform::Subprocess::Options options;
    options.arguments = std::move(arguments);
    options.environment = std::move(environment);
    options.workingDirectory = root_.Path();
    options.stdoutPath = root_.File("vestrel.stdout");
    options.stderrPath = root_.File("vestrel.stderr");
    std::string error;
    const bool ok = vestrel_.Start(Exe(), options, &error);
    EXPECT_TRUE(ok) << error;
    return ok;
  }
  // SIGTERM, then the exit status (or -1 when it did not end within the bound).
  int StopVestrel(int timeoutMs = 20000) {
    if (vestrel_.Pid() <= 0) return -1;
    if (!vestrel_.Running()) return vestrel_.ExitStatus();
    vestrel_.Terminate();
    if (!vestrel_.Wait(timeoutMs)) {
      vestrel_.Kill();
      vestrel_.Wait(5000);
      return -1;
    }
    return vestrel_.ExitStatus();
  }
  platform::Subprocess& Vestrel() { return vestrel_; }

  std::string Log() const { return ReadFileBytes(root_.File("bin/vestrel.log")); }
  std::string Stderr() const { return ReadFileBytes(root_.File("vestrel.stderr")); }
  bool WaitForLog(const std::string& fragment, int timeoutMs, int count = 1) const {
    return WaitFor([&] { return CountOccurrences(Log(), fragment) >= count; }, timeoutMs);
  }

  // The event files (".txt") in the events folder, sorted by name.
  std::vector<std::string> EventFiles() const {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(EventsDir(), ec)) {
      if (entry.path().extension() == ".txt") files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
  }
  bool WaitForEventFiles(std::size_t count, int timeoutMs) const {
    return WaitFor([&] { return EventFiles().size() >= count; }, timeoutMs);
  }
  // Every entry of the events folder, event files and anything else.
  std::vector<std::string> AllEventFolderEntries() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(EventsDir(), ec)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

 private:
  TempDir root_;
  platform::Subprocess vestrel_;
};

// The "Info" value of an element in an event file, or "" when absent.
inline std::string InfoOf(const std::string& eventXml, const std::string& element) {
  const std::string start = "<" + element + " Info=\"";
  const std::size_t at = eventXml.find(start);
  if (at == std::string::npos) return "";
  const std::size_t end = eventXml.find('"', at + start.size());
  return eventXml.substr(at + start.size(), end - at - start.size());
}

}  // namespace e2e
