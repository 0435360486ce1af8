#include "tools/facesim/ScriptCommand.h"

#include <cstdio>
#include <vector>

namespace facesim {

namespace {

using simtools::ParseSeconds;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseFault(const std::string& line, const std::vector<std::string>& words, AnswerFault* fault,
                std::string* error) {
  const std::string& word = words[2];
  if (word.rfind("body=", 0) == 0) {
    // The body is the rest of the line as written, blanks and '#' included.
    fault->kind = AnswerFault::Kind::Body;
    const size_t start = line.find("body=", line.find(words[1]) + words[1].size()) + 5;
    std::string body = line.substr(start);
    while (!body.empty() && (body.back() == ' ' || body.back() == '\t' || body.back() == '\r')) {
      body.pop_back();
    }
    fault->body = DecodeEscapes(body);
    return true;
  }
  if (words.size() != 3) {
    *error = "next: expected ENDPOINT BEHAVIOUR, one behaviour";
    return false;
  }
  static const struct {
    const char* name;
    AnswerFault::Kind kind;
  } kPlain[] = {
      {"garbage", AnswerFault::Kind::Garbage}, {"empty", AnswerFault::Kind::Empty},
      {"deep", AnswerFault::Kind::Deep},       {"huge", AnswerFault::Kind::Huge},
      {"close", AnswerFault::Kind::Close},     {"truncated", AnswerFault::Kind::Truncated},
      {"gzip-bomb", AnswerFault::Kind::GzipBomb}, {"headers", AnswerFault::Kind::Headers}};
  for (const auto& plain : kPlain) {
    if (word == plain.name) {
      fault->kind = plain.kind;
      return true;
    }
  }
  if (word.rfind("status=", 0) == 0) {
    fault->kind = AnswerFault::Kind::Status;
    if (!simtools::ParseBoundedInt(word.substr(7), 200, 599, &fault->status)) {
      *error = "next: status=N takes a status from 200 to 599";
      return false;
    }
    return true;
  }
  for (const char* timed : {"slow=", "drip="}) {
    if (word.rfind(timed, 0) == 0) {
      fault->kind = timed[0] == 's' ? AnswerFault::Kind::Slow : AnswerFault::Kind::Drip;
      if (!ParseSeconds(word.substr(5), &fault->seconds)) {
        *error = std::string("next: ") + timed + "SECONDS takes 0 to 1000000 seconds";
        return false;
      }
      return true;
    }
  }
  if (word.rfind("wide=", 0) == 0) {
    fault->kind = AnswerFault::Kind::Wide;
    if (!simtools::ParseBoundedInt(word.substr(5), 1, kMaxWide, &fault->count)) {
      *error = "next: wide=N takes 1 to " + std::to_string(kMaxWide);
      return false;
    }
    return true;
  }
  *error = "next: unknown behaviour '" + word +
           "' (status=N, garbage, empty, deep, huge, slow=SECONDS, drip=SECONDS, close, "
           "truncated, gzip-bomb, headers, wide=N, body=TEXT)";
  return false;
}

bool ParsePushFault(const std::string& word, PushFault* fault) {
  for (PushFault candidate :
       {PushFault::None, PushFault::Twice, PushFault::Garbage, PushFault::WrongId}) {
    if (word == PushFaultName(candidate)) {
      *fault = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace

std::string DecodeEscapes(const std::string& text) {
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (text[i] != '\\') {
      decoded += text[i];
    } else if (next == 'n' || next == 'r' || next == 't' || next == '\\') {
      decoded += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : '\\';
      ++i;
    } else if (next == 'x' && i + 3 < text.size() && HexDigit(text[i + 2]) >= 0 &&
               HexDigit(text[i + 3]) >= 0) {
      decoded += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
      i += 3;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::string AnswerFault::Name() const {
  switch (kind) {
    case Kind::Status:
      return "status=" + std::to_string(status);
    case Kind::Garbage:
      return "garbage";
    case Kind::Empty:
      return "empty";
    case Kind::Deep:
      return "deep";
    case Kind::Huge:
      return "huge";
    case Kind::Slow:
    case Kind::Drip: {
      char text[32];
      std::snprintf(text, sizeof text, "%s=%g", kind == Kind::Slow ? "slow" : "drip", seconds);
      return text;
    }
    case Kind::GzipBomb:
      return "gzip-bomb";
    case Kind::Headers:
      return "headers";
    case Kind::Wide:
      return "wide=" + std::to_string(count);
    case Kind::Close:
      return "close";
    case Kind::Truncated:
      return "truncated";
    case Kind::Body:
      break;
  }
  return "body";
}

const char* PushFaultName(PushFault fault) {
  switch (fault) {
    case PushFault::None:
      return "none";
    case PushFault::Twice:
      return "twice";
    case PushFault::Garbage:
      return "garbage";
    case PushFault::WrongId:
      break;
  }
  return "wrong-id";
}

ParseResult ParseScriptLine(const std::string& line, ScriptCommand* command, std::string* error) {
  const std::vector<std::string> words = simtools::Words(line);
  if (words.empty()) return ParseResult::Empty;
  const std::string& name = words[0];
  *command = ScriptCommand();
  auto fail = [&](const std::string& text) {
    *error = text;
    return ParseResult::Error;
  };
  if (name == "next") {
    command->kind = ScriptCommand::Kind::Next;
    if (words.size() < 3) return fail("next: expected ENDPOINT BEHAVIOUR");
    command->endpoint = words[1][0] == '/' ? words[1] : "/" + words[1];
    if (!ParseFault(line, words, &command->fault, error)) return ParseResult::Error;
  } else if (name == "push") {
    command->kind = ScriptCommand::Kind::Push;
    if (words.size() != 2 || !ParsePushFault(words[1], &command->push)) {
      return fail("push: expected none, twice, garbage or wrong-id");
    }
  } else if (name == "push-delay" || name == "down" || name == "wait") {
    command->kind = name == "wait"   ? ScriptCommand::Kind::Wait
                    : name == "down" ? ScriptCommand::Kind::Down
                                     : ScriptCommand::Kind::PushDelay;
    if (words.size() != 2 || !ParseSeconds(words[1], &command->seconds)) {
      return fail(name + ": expected SECONDS (0 to 1000000)");
    }
  } else if (name == "ws") {
    command->kind = ScriptCommand::Kind::WsStall;
    if (words.size() != 2 || words[1] != "stall") return fail("ws: expected stall");
  } else if (name == "quit") {
    command->kind = ScriptCommand::Kind::Quit;
    if (words.size() != 1) return fail("quit takes no arguments");
  } else {
    return fail("unknown command '" + name + "'");
  }
  return ParseResult::Command;
}

}  // namespace facesim
