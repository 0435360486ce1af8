// The process-wide logging facade over log4cplus: one logger named "Vestrel", configured
// from "Logger.properties" beside the executable and re-read every 5 s.
// Any thread may call GetInstance and the Log methods; the first GetInstance creates the
// helper under a creation mutex. Logging never throws and never reports failure.
#pragma once

#include <string>

class CLogHelper {
 public:
  static CLogHelper* GetInstance();
  // For tools that share the loaders but not the service's log file: called before the first
  // GetInstance, it keeps the helper from reading "Logger.properties"; the tool attaches its own
  // appenders to the "Vestrel" logger.
  static void WithoutConfigurationFile();

  void LogDebug(const std::string& message);
  void LogInfo(const std::string& message);
  void LogError(const std::string& message);

  // printf-style variants: the level is checked before the text is formatted, and the text
  // is limited to 1023 characters like the fixed buffers the log formats were made for.
  void LogDebugF(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void LogInfoF(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void LogWarnF(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void LogErrorF(const char* format, ...) __attribute__((format(printf, 2, 3)));

  bool IsDebugEnabled() const;

 private:
  CLogHelper();
  ~CLogHelper() = delete;  // lives until the process ends
  CLogHelper(const CLogHelper&) = delete;
  CLogHelper& operator=(const CLogHelper&) = delete;
};
