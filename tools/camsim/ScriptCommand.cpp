#include "tools/camsim/ScriptCommand.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>
#include <vector>

#include "tools/common/ScriptWords.h"

namespace camsim {

using simtools::ParseSeconds;
using simtools::Words;

namespace {

constexpr size_t kMaxIpTextLength = 15;
constexpr size_t kMaxPasswordLength = 64;

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value > max) return false;
  *out = value;
  return true;
}

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

bool ParseTime(const std::string& text, FaceCommand* face) {
  // YYYY-MM-DDTHH:MM:SS, digits exactly where the pattern has them.
  static const char kPattern[] = "dddd-dd-ddTdd:dd:dd";
  if (text.size() != sizeof(kPattern) - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kPattern[i] == 'd' ? !digit : text[i] != kPattern[i]) return false;
  }
  auto number = [&](size_t pos, size_t count) { return std::stoi(text.substr(pos, count)); };
  face->year = number(0, 4);
  face->month = number(5, 2);
  face->day = number(8, 2);
  face->hour = number(11, 2);
  face->minute = number(14, 2);
  face->second = number(17, 2);
  // The packed form keeps six bits of year after 2000.
  if (face->year < 2000 || face->year > 2063 || face->month < 1 || face->month > 12) return false;
  if (face->day < 1 || face->day > DaysInMonth(face->year, face->month)) return false;
  if (face->hour > 23 || face->minute > 59 || face->second > 59) return false;
  face->hasTime = true;
  return true;
}

bool ParseFace(const std::vector<std::string>& words, FaceCommand* face, std::string* error) {
  std::set<std::string> seen;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "noaddinfo") {
      face->noAddInfo = true;
      continue;
    }
    const size_t equals = word.find('=');
    if (equals == std::string::npos) {
      *error = "face: expected KEY=VALUE, got '" + word + "'";
      return false;
    }
    const std::string key = word.substr(0, equals);
    const std::string value = word.substr(equals + 1);
    if (!seen.insert(key).second) {
      *error = "face: " + key + " given twice";
      return false;
    }
    uint64_t number = 0;
    bool ok = true;
    if (key == "id") {
      ok = ParseUnsigned(value, UINT32_MAX, &number);
      face->id = static_cast<uint32_t>(number);
    } else if (key == "jpeg") {
      ok = !value.empty();
      face->jpegPath = value;
    } else if (key == "temp") {
      char* end = nullptr;
      const double t = std::strtod(value.c_str(), &end);
      ok = !value.empty() && *end == '\0' && std::isfinite(t) && std::fabs(t) < 1e6;
      face->temperature = static_cast<float>(t);
    } else if (key == "abnormal") {
      ok = value == "0" || value == "1";
      face->abnormal = value == "1" ? 1 : 0;
    } else if (key == "unit") {
      ok = ParseUnsigned(value, 255, &number);
      face->unit = static_cast<uint8_t>(number);
    } else if (key == "mask") {
      ok = ParseUnsigned(value, 255, &number);
      face->mask = static_cast<uint8_t>(number);
    } else if (key == "time") {
      ok = ParseTime(value, face);
    } else if (key == "ip") {
      ok = !value.empty() && value.size() <= kMaxIpTextLength;
      face->ip = value;
    } else {
      *error = "face: unknown key '" + key + "'";
      return false;
    }
    if (!ok) {
      *error = "face: bad " + key + " '" + value + "'";
      return false;
    }
  }
  if (!seen.count("id") || !seen.count("jpeg")) {
    *error = "face: id=N and jpeg=PATH are required";
    return false;
  }
  return true;
}

}  // namespace

ParseResult ParseScriptLine(const std::string& line, ScriptCommand* command, std::string* error) {
  const std::vector<std::string> words = Words(line);
  if (words.empty()) return ParseResult::Empty;
  const std::string& name = words[0];
  *command = ScriptCommand();
  auto fail = [&](const std::string& text) {
    *error = text;
    return ParseResult::Error;
  };
  if (name == "wait" || name == "offline") {
    command->kind = name == "wait" ? ScriptCommand::Kind::Wait : ScriptCommand::Kind::Offline;
    if (words.size() != 2 || !ParseSeconds(words[1], &command->seconds)) {
      return fail(name + ": expected SECONDS (0 to 1000000)");
    }
  } else if (name == "await-channel") {
    command->kind = ScriptCommand::Kind::AwaitChannel;
    if (words.size() > 2 || (words.size() == 2 && !ParseSeconds(words[1], &command->seconds))) {
      return fail("await-channel: expected [TIMEOUT_SECONDS]");
    }
  } else if (name == "face") {
    command->kind = ScriptCommand::Kind::Face;
    if (!ParseFace(words, &command->face, error)) return ParseResult::Error;
  } else if (name == "alarm") {
    command->kind = ScriptCommand::Kind::Alarm;
    uint64_t number = 0;
    if (words.size() != 2 || words[1].rfind("command=", 0) != 0 ||
        !ParseUnsigned(words[1].substr(8), UINT32_MAX, &number)) {
      return fail("alarm: expected command=N");
    }
    command->alarmCommand = static_cast<uint32_t>(number);
  } else if (name == "password") {
    command->kind = ScriptCommand::Kind::Password;
    if (words.size() != 2 || words[1].size() > kMaxPasswordLength) {
      return fail("password: expected one word of at most 64 characters");
    }
    command->password = words[1];
  } else if (name == "quit") {
    command->kind = ScriptCommand::Kind::Quit;
    if (words.size() != 1) return fail("quit takes no arguments");
  } else {
    return fail("unknown command '" + name + "'");
  }
  return ParseResult::Command;
}

uint32_t PackAlarmTime(int year, int month, int day, int hour, int minute, int second) {
  return (static_cast<uint32_t>(year - 2000) << 26) | (static_cast<uint32_t>(month) << 22) |
         (static_cast<uint32_t>(day) << 17) | (static_cast<uint32_t>(hour) << 12) |
         (static_cast<uint32_t>(minute) << 6) | static_cast<uint32_t>(second);
}

}  // namespace camsim
