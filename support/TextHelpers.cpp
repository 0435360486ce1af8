#include "support/TextHelpers.h"

#include <cstring>
#include <string>

#include "platform/CodePage.h"

namespace {

char* CopyToNewBuffer(const std::string& text) {
  char* buffer = new char[text.size() + 1];
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return buffer;
}

}  // namespace

int AnsiToUtf8(const char* ansi, char** out) {
  const std::string utf8 = platform::ConvertAnsiToUtf8(ansi != nullptr ? ansi : "");
  // A converted text never holds a NUL of its own, so the terminator ends it.
  *out = CopyToNewBuffer(utf8);
  return static_cast<int>(std::strlen(*out)) + 1;
}

char* Utf8ToAnsi(const char* utf8) {
  return CopyToNewBuffer(platform::ConvertUtf8ToAnsi(utf8 != nullptr ? utf8 : ""));
}
