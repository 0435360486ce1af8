#include "support/StringFormat.h"

#include <cstdio>
#include <vector>

std::string StringFormatV(std::size_t maxChars, const char* format, va_list args) {
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  std::size_t length = static_cast<std::size_t>(needed);
  if (length < sizeof small) return std::string(small, length < maxChars ? length : maxChars);
  std::vector<char> big(length + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  return std::string(big.data(), length < maxChars ? length : maxChars);
}

std::string StringFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = StringFormatV(static_cast<std::size_t>(-1), format, args);
  va_end(args);
  return text;
}

std::string StringFormatLimited(std::size_t maxChars, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = StringFormatV(maxChars, format, args);
  va_end(args);
  return text;
}
