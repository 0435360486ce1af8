// One line of the face-service simulator's script, parsed and checked, and the faults it can
// arm. Plain data and functions: any thread.
#pragma once

#include <string>

#include "tools/common/ScriptWords.h"

namespace facesim {

using simtools::ParseResult;

// What happens to the answer of one request.
struct AnswerFault {
  enum class Kind {
    Status, Garbage, Empty, Deep, Huge, Slow, Close, Truncated, Body, Drip, GzipBomb, Wide,
    Headers
  };
  Kind kind = Kind::Status;
  int status = 0;      // Status
  double seconds = 0;  // Slow, Drip
  std::string body;    // Body, escapes decoded
  int count = 0;       // Wide: empty objects added to the answer's list

  // As the script writes it, without the body text: "status=503", "slow=1.5", "body".
  std::string Name() const;
};

// The largest N of wide=N.
constexpr int kMaxWide = 10000000;

// TEXT of body=TEXT with its escapes decoded: \n, \r, \t, \\ and \xNN (two hex digits, any
// byte); any other backslash is kept as written, so that JSON's own \" and \u0001 pass.
std::string DecodeEscapes(const std::string& text);

// What happens to the next pushed result.
enum class PushFault { None, Twice, Garbage, WrongId };
const char* PushFaultName(PushFault fault);

struct ScriptCommand {
  enum class Kind { Next, Push, PushDelay, Down, Wait, Quit, WsStall };
  Kind kind = Kind::Quit;
  std::string endpoint;  // Next: a path beginning with '/'
  AnswerFault fault;     // Next
  PushFault push = PushFault::None;
  double seconds = 0;  // PushDelay, Down, Wait
};

// Empty for blank and comment lines; Error with *error set for a bad line. Whether the
// endpoint belongs to the mode is for the caller to check.
ParseResult ParseScriptLine(const std::string& line, ScriptCommand* command, std::string* error);

}  // namespace facesim
