#include "tools/facesim/ScriptCommand.h"

#include <cstdio>
#include <vector>

namespace facesim {

namespace {

using simtools::ParseSeconds;

bool ParseFault(const std::string& line, const std::vector<std::string>& words, AnswerFault* fault,
                std::string* error) {
  const std::string& word = words[2];
  if (word.rfind("body=", 0) == 0) {
    // The body is the rest of the line as written, blanks and '#' included.
    fault->kind = AnswerFault::Kind::Body;
    const size_t start = line.find("body=", line.find(words[1]) + words[1].size()) + 5;
    fault->body = line.substr(start);
    while (!fault->body.empty() && (fault->body.back() == ' ' || fault->body.back() == '\t' ||
                                    fault->body.back() == '\r')) {
      fault->body.pop_back();
    }
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
      {"close", AnswerFault::Kind::Close},     {"truncated", AnswerFault::Kind::Truncated}};
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
  if (word.rfind("slow=", 0) == 0) {
    fault->kind = AnswerFault::Kind::Slow;
    if (!ParseSeconds(word.substr(5), &fault->seconds)) {
      *error = "next: slow=SECONDS takes 0 to 1000000 seconds";
      return false;
    }
    return true;
  }
  *error = "next: unknown behaviour '" + word +
           "' (status=N, garbage, empty, deep, huge, slow=SECONDS, close, truncated, body=TEXT)";
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
    case Kind::Slow: {
      char text[32];
      std::snprintf(text, sizeof text, "slow=%g", seconds);
      return text;
    }
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
  } else if (name == "quit") {
    command->kind = ScriptCommand::Kind::Quit;
    if (words.size() != 1) return fail("quit takes no arguments");
  } else {
    return fail("unknown command '" + name + "'");
  }
  return ParseResult::Command;
}

}  // namespace facesim
