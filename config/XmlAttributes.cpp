#include "config/XmlAttributes.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "support/LogHelper.h"
#include "support/StringFormat.h"

bool LoadXmlFile(const std::string& path, TiXmlDocument& document) {
  std::error_code ec;
  // TinyXML sizes its buffer from ftell, which is meaningless for a folder.
  if (!std::filesystem::is_regular_file(path, ec)) {
    CLogHelper::GetInstance()->LogError(
        StringFormat("Failed to open file (%s: not a readable file)", path.c_str()));
    return false;
  }
  if (!document.LoadFile(path.c_str())) {
    CLogHelper::GetInstance()->LogError(StringFormat("%s (%s, row %d, column %d)",
                                                     document.ErrorDesc(), path.c_str(),
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
