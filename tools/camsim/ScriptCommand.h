// One line of a simulator script, parsed and checked. Plain data and functions: any thread.
#pragma once

#include <cstdint>
#include <string>

#include "tools/common/ScriptWords.h"

namespace camsim {

struct FaceCommand {
  uint32_t id = 0;
  std::string jpegPath;
  float temperature = 36.5f;
  uint8_t abnormal = 0;
  uint8_t unit = 0;
  uint8_t mask = 0;
  bool hasTime = false;  // otherwise the current local time
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::string ip;  // empty: the listen address
  bool noAddInfo = false;
};

struct ScriptCommand {
  enum class Kind { Wait, AwaitChannel, Face, Alarm, Offline, Password, Quit };
  Kind kind = Kind::Quit;
  double seconds = -1;  // Wait, Offline; AwaitChannel: negative means no time limit
  FaceCommand face;
  uint32_t alarmCommand = 0;
  std::string password;
};

using simtools::ParseResult;

// Empty for blank and comment lines; Error with *error set for a bad line.
ParseResult ParseScriptLine(const std::string& line, ScriptCommand* command, std::string* error);

// The packed alarm time: (year-2000)<<26 | month<<22 | day<<17 | hour<<12 | minute<<6 | second.
uint32_t PackAlarmTime(int year, int month, int day, int hour, int minute, int second);

}  // namespace camsim
