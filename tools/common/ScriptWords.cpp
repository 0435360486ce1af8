#include "tools/common/ScriptWords.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace simtools {

namespace {

constexpr double kMaxSeconds = 1e6;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream stream(line);
  std::string word;
  while (stream >> word) {
    if (word[0] == '#') break;
    words.push_back(word);
  }
  return words;
}

bool QuotedWords(const std::string& line, std::vector<std::string>* words, std::string* error) {
  words->clear();
  size_t i = 0;
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size() || line[i] == '#') return true;
    std::string word;
    while (i < line.size() && !IsBlank(line[i])) {
      if (line[i] != '"') {
        word += line[i++];
        continue;
      }
      const size_t close = line.find('"', i + 1);
      if (close == std::string::npos) {
        *error = "a double quote is not closed";
        return false;
      }
      word += line.substr(i + 1, close - i - 1);
      i = close + 1;
    }
    words->push_back(word);
  }
}

bool ParseSeconds(const std::string& text, double* out) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0 || value > kMaxSeconds) {
    return false;
  }
  *out = value;
  return true;
}

bool ParseBoundedInt(const std::string& text, int low, int high, int* out) {
  if (text.empty() || text.size() > 9) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return false;
  *out = value;
  return true;
}

}  // namespace simtools
