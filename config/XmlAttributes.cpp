#include "config/XmlAttributes.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/FileStatus.h"
#include "platform/FileSystem.h"
#include "support/LogHelper.h"
#include "support/StringFormat.h"

namespace {

// Skips to just past the terminator, or to the end of the text.
std::size_t SkipPast(const std::string& text, std::size_t from, const char* terminator) {
  const std::size_t at = text.find(terminator, from);
  return at == std::string::npos ? text.size() : at + std::strlen(terminator);
}

// TinyXML reads a file with its line ends made LF; a text parsed directly is given the same.
std::string NormaliseLineEnds(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

bool XmlNestingWithin(const std::string& text, int maxDepth) {
  int depth = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '<') {
      ++i;
      continue;
    }
    if (text.compare(i, 4, "<!--") == 0) {
      i = SkipPast(text, i + 4, "-->");
    } else if (text.compare(i, 9, "<![CDATA[") == 0) {
      i = SkipPast(text, i + 9, "]]>");
    } else if (i + 1 < text.size() && (text[i + 1] == '?' || text[i + 1] == '!')) {
      i = SkipPast(text, i + 2, ">");
    } else if (i + 1 < text.size() && text[i + 1] == '/') {
      if (depth > 0) --depth;
      i = SkipPast(text, i + 2, ">");
    } else {
      // A start tag: find its end outside quoted values and see whether it closes itself.
      char quote = 0;
      std::size_t j = i + 1;
      for (; j < text.size(); ++j) {
        const char c = text[j];
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        }
      }
      const bool selfClosing = j < text.size() && text[j - 1] == '/';
      if (!selfClosing && ++depth > maxDepth) return false;
      i = j + 1;
    }
  }
  return true;
}

bool LoadXmlFile(const std::string& path, TiXmlDocument& document) {
  CLogHelper* log = CLogHelper::GetInstance();
  std::error_code ec;
  // TinyXML sizes its buffer from ftell, which is meaningless for a folder.
  if (!std::filesystem::is_regular_file(path, ec)) {
    log->LogError(StringFormat("Failed to open file (%s: not a readable file)", path.c_str()));
    return false;
  }
  std::string text;
  int errorCode = 0;
  if (!platform::ReadWholeFile(path, &text, &errorCode, kMaxXmlFileBytes)) {
    log->LogError(StringFormat("Failed to open file (%s: %s)", path.c_str(),
                               errorCode == EFBIG
                                   ? StringFormat("larger than %zu bytes", kMaxXmlFileBytes).c_str()
                                   : platform::ErrorMessage(errorCode).c_str()));
    return false;
  }
  if (!XmlNestingWithin(text, kMaxXmlDepth)) {
    log->LogError(StringFormat("Failed to load file (%s: elements nested deeper than %d levels)",
                               path.c_str(), kMaxXmlDepth));
    return false;
  }
  document.Parse(NormaliseLineEnds(text).c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  if (document.Error()) {
    log->LogError(StringFormat("%s (%s, row %d, column %d)", document.ErrorDesc(), path.c_str(),
                               document.ErrorRow(), document.ErrorCol()));
    return false;
  }
  return true;
}

std::string TextAttribute(const TiXmlElement* element, const char* name) {
  const char* value = element != nullptr ? element->Attribute(name) : nullptr;
  return value != nullptr ? std::string(value) : std::string();
}

bool IntAttribute(const TiXmlElement* element, const char* name, int32_t* value) {
  const char* text = element != nullptr ? element->Attribute(name) : nullptr;
  if (text == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(text, &end, 10);
  if (end == text) return false;
  if (parsed > INT32_MAX) parsed = INT32_MAX;
  if (parsed < INT32_MIN) parsed = INT32_MIN;
  *value = static_cast<int32_t>(parsed);
  return true;
}

bool DoubleAttribute(const TiXmlElement* element, const char* name, double* value) {
  const char* text = element != nullptr ? element->Attribute(name) : nullptr;
  if (text == nullptr) return false;
  char* end = nullptr;
  const double parsed = std::strtod(text, &end);
  if (end == text) return false;
  *value = parsed;
  return true;
}
