// Follows the host system's reader: only the first section of a given name is searched
// (as Windows does with duplicate sections), a line whose first non-blank character is ';'
// is a comment, a line without '=' is a key with an empty value, and text after the value
// (an inline "; note") belongs to the value. A UTF-8 byte-order mark at the start is skipped.
#include "platform/Profile.h"

#include <cstddef>
#include <fstream>

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string StripQuotes(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// The value of the first matching key in the first matching section; false when absent.
bool FindValue(const std::string& section, const std::string& key, const std::string& file,
               std::string* value) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::string line;
  bool first = true;
  bool seenSection = false;
  bool inSection = false;
  while (std::getline(in, line)) {
    if (first) {
      first = false;
      if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    }
    const std::string text = Trim(line);
    if (text.empty() || text[0] == ';') continue;
    if (text[0] == '[') {
      const std::size_t close = text.find(']');
      if (close != std::string::npos) {
        if (inSection) return false;  // the first section of this name has been searched
        inSection = !seenSection && EqualNoCase(Trim(text.substr(1, close - 1)), section);
        seenSection = seenSection || inSection;
        continue;
      }
      // Without ']' it is no section header but an ordinary line.
    }
    if (!inSection) continue;
    const std::size_t eq = text.find('=');
    const std::string name = Trim(text.substr(0, eq));
    if (!EqualNoCase(name, key)) continue;
    *value = eq == std::string::npos ? std::string() : StripQuotes(Trim(text.substr(eq + 1)));
    return true;
  }
  return false;
}

}  // namespace

std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::string& file) {
  std::string value;
  return FindValue(section, key, file, &value) ? value : defaultValue;
}

// Digits beyond 32 bits wrap modulo 2^32, as the host's reader does ("4294967297" gives 1,
// "2147483648" gives INT32_MIN). A key whose value is empty gives the default, like there.
int32_t GetProfileInt(const std::string& section, const std::string& key, int32_t defaultValue,
                      const std::string& file) {
  std::string value;
  if (!FindValue(section, key, file, &value) || value.empty()) return defaultValue;
  std::size_t i = 0;
  while (i < value.size() && IsBlank(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
    negative = value[i] == '-';
    ++i;
  }
  uint32_t total = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    total = total * 10u + static_cast<uint32_t>(value[i] - '0');
  }
  if (negative) total = 0u - total;
  return static_cast<int32_t>(total);
}

}  // namespace platform
