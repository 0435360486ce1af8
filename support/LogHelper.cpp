#include "support/LogHelper.h"

#include <log4cplus/configurator.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/loggingmacros.h>

#include <atomic>
#include <cstdarg>
#include <mutex>

#include "platform/Environment.h"
#include "platform/ModulePath.h"
#include "support/StringFormat.h"

namespace {

constexpr std::size_t kMaxFormattedLine = 1023;

std::atomic<CLogHelper*> g_instance{nullptr};
std::mutex g_creationMutex;  // guards only the creation of g_instance
log4cplus::Logger g_logger;  // assigned once, under g_creationMutex, before g_instance is set
// Runs until the process ends; kept reachable so leak checkers see it is meant to live on.
log4cplus::ConfigureAndWatchThread* g_watcher = nullptr;
std::atomic<bool> g_withoutConfigurationFile{false};

std::string ExecutableFolder() {
  std::string path = platform::ModuleFileName();
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void Write(log4cplus::LogLevel level, const std::string& message) {
  if (!g_logger.isEnabledFor(level)) return;
  log4cplus::tostringstream& oss = log4cplus::detail::get_macro_body_oss();
  oss << message.c_str();
  log4cplus::detail::macro_forced_log(g_logger, level, oss.str(), __FILE__, __LINE__,
                                      LOG4CPLUS_MACRO_FUNCTION());
}

void WriteV(log4cplus::LogLevel level, const char* format, va_list args) {
  if (!g_logger.isEnabledFor(level)) return;
  Write(level, StringFormatV(kMaxFormattedLine, format, args));
}

}  // namespace

CLogHelper::CLogHelper() = default;

CLogHelper* CLogHelper::GetInstance() {
  CLogHelper* helper = g_instance.load(std::memory_order_acquire);
  if (helper != nullptr) return helper;
  std::lock_guard<std::mutex> guard(g_creationMutex);
  helper = g_instance.load(std::memory_order_relaxed);
  if (helper == nullptr) {
    log4cplus::initialize();
    g_logger = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("Vestrel"));
    const std::string folder = ExecutableFolder();
    // Lets Logger.properties name files beside the executable: ${VESTREL_PROGRAM_FOLDER}x.log
    platform::SetEnvironmentVariable("VESTREL_PROGRAM_FOLDER", folder);
    // Reads the file at once and re-reads it whenever it changes; runs until the process ends.
    if (!g_withoutConfigurationFile) {
      g_watcher = new log4cplus::ConfigureAndWatchThread(folder + "Logger.properties", 5000);
    }
    helper = new CLogHelper();
    g_instance.store(helper, std::memory_order_release);
  }
  return helper;
}

void CLogHelper::WithoutConfigurationFile() { g_withoutConfigurationFile = true; }

void CLogHelper::LogDebug(const std::string& message) { Write(log4cplus::DEBUG_LOG_LEVEL, message); }
void CLogHelper::LogInfo(const std::string& message) { Write(log4cplus::INFO_LOG_LEVEL, message); }
void CLogHelper::LogError(const std::string& message) { Write(log4cplus::ERROR_LOG_LEVEL, message); }

void CLogHelper::LogDebugF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(log4cplus::DEBUG_LOG_LEVEL, format, args);
  va_end(args);
}

void CLogHelper::LogInfoF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(log4cplus::INFO_LOG_LEVEL, format, args);
  va_end(args);
}

void CLogHelper::LogWarnF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(log4cplus::WARN_LOG_LEVEL, format, args);
  va_end(args);
}

void CLogHelper::LogErrorF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(log4cplus::ERROR_LOG_LEVEL, format, args);
  va_end(args);
}

bool CLogHelper::IsDebugEnabled() const { return g_logger.isEnabledFor(log4cplus::DEBUG_LOG_LEVEL); }
