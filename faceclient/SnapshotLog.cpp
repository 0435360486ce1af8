#include "faceclient/SnapshotLog.h"

#include <cstdarg>

#include "support/LogHelper.h"
#include "support/StringFormat.h"

namespace {

constexpr std::size_t kMaxMarkerChars = 16;
constexpr std::size_t kUnlimited = static_cast<std::size_t>(-1);

}  // namespace

std::string CutKeepingMarker(const std::string& text, std::size_t maxChars) {
  if (text.size() <= maxChars) return text;
  std::string marker;
  const std::size_t at = text.rfind('@');
  if (at != std::string::npos && text.size() - at <= kMaxMarkerChars && text.size() - at < maxChars) {
    marker = text.substr(at);
  }
  return text.substr(0, maxChars - marker.size()) + marker;
}

void LogSnapshotLine(std::size_t bufferSize, const char* format, ...) {
  CLogHelper* log = CLogHelper::GetInstance();
  if (!log->IsDebugEnabled() || bufferSize == 0) return;
  va_list args;
  va_start(args, format);
  const std::string text = StringFormatV(kUnlimited, format, args);
  va_end(args);
  log->LogDebug(CutKeepingMarker(text, bufferSize - 1));
}
