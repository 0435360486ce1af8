#include "tools/facesim/ScriptCommand.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace facesim {
namespace {

using ::testing::HasSubstr;

ScriptCommand Parsed(const std::string& line) {
  ScriptCommand command;
  std::string error;
  EXPECT_EQ(ParseResult::Command, ParseScriptLine(line, &command, &error)) << line << ": " << error;
  return command;
}

std::string ErrorOf(const std::string& line) {
  ScriptCommand command;
  std::string error;
  EXPECT_EQ(ParseResult::Error, ParseScriptLine(line, &command, &error)) << line;
  return error;
}

TEST(FaceScriptTest, NextArmsEachBehaviourForAnEndpoint) {
  const struct {
    const char* behaviour;
    AnswerFault::Kind kind;
  } cases[] = {
      {"garbage", AnswerFault::Kind::Garbage},   {"empty", AnswerFault::Kind::Empty},
      {"deep", AnswerFault::Kind::Deep},         {"huge", AnswerFault::Kind::Huge},
      {"close", AnswerFault::Kind::Close},       {"truncated", AnswerFault::Kind::Truncated},
      {"status=503", AnswerFault::Kind::Status}, {"slow=1.5", AnswerFault::Kind::Slow},
      {"drip=0.25", AnswerFault::Kind::Drip},    {"gzip-bomb", AnswerFault::Kind::GzipBomb},
      {"wide=300", AnswerFault::Kind::Wide},     {"headers", AnswerFault::Kind::Headers}};
  for (const auto& c : cases) {
    const ScriptCommand command = Parsed(std::string("next /users/login ") + c.behaviour);
    EXPECT_EQ(ScriptCommand::Kind::Next, command.kind);
    EXPECT_EQ("/users/login", command.endpoint);
    EXPECT_EQ(c.kind, command.fault.kind) << c.behaviour;
    EXPECT_EQ(c.behaviour, command.fault.Name());
  }
  EXPECT_EQ(503, Parsed("next /x status=503").fault.status);
  EXPECT_DOUBLE_EQ(1.5, Parsed("next /x slow=1.5").fault.seconds);
  EXPECT_DOUBLE_EQ(0.25, Parsed("next /x drip=0.25").fault.seconds);
  EXPECT_EQ(300, Parsed("next /x wide=300").fault.count);
  EXPECT_EQ("/api/fcs/person/whois", Parsed("next api/fcs/person/whois empty  # c").endpoint);
}

TEST(FaceScriptTest, BodyIsTheRestOfTheLineAsWritten) {
  const ScriptCommand command =
      Parsed("next /frs/cgi/verifyface body={\"verify_face_id\": \"\", \"n\": \"#1\"}  \r");
  EXPECT_EQ(AnswerFault::Kind::Body, command.fault.kind);
  EXPECT_EQ("{\"verify_face_id\": \"\", \"n\": \"#1\"}", command.fault.body);
  EXPECT_EQ("body", command.fault.Name());
  EXPECT_EQ("", Parsed("next /body body=").fault.body);
  EXPECT_EQ("x body=y", Parsed("next /body body=x body=y").fault.body);
  // Escapes give any byte; other backslashes (JSON's own) stay.
  EXPECT_EQ("{}\r\n2026 ERROR \x01\t\\x\xFF\\\"\\u0001\\x4",
            Parsed(R"(next /x body={}\r\n2026 ERROR \x01\t\\x\xff\"\u0001\x4)").fault.body);
}

TEST(FaceScriptTest, PushDelayDownWaitQuit) {
  EXPECT_EQ(PushFault::WrongId, Parsed("push wrong-id").push);
  EXPECT_EQ(PushFault::None, Parsed("push none").push);
  EXPECT_EQ(PushFault::Twice, Parsed("push twice").push);
  EXPECT_EQ(PushFault::Garbage, Parsed("push garbage").push);
  EXPECT_DOUBLE_EQ(0.25, Parsed("push-delay 0.25").seconds);
  EXPECT_EQ(ScriptCommand::Kind::PushDelay, Parsed("push-delay 0").kind);
  EXPECT_EQ(ScriptCommand::Kind::Down, Parsed("down 2").kind);
  EXPECT_EQ(ScriptCommand::Kind::Wait, Parsed("wait 0.1").kind);
  EXPECT_EQ(ScriptCommand::Kind::Quit, Parsed("quit").kind);
  EXPECT_EQ(ScriptCommand::Kind::WsStall, Parsed("ws stall").kind);
  ScriptCommand command;
  std::string error;
  EXPECT_EQ(ParseResult::Empty, ParseScriptLine("   # nothing", &command, &error));
  EXPECT_EQ(ParseResult::Empty, ParseScriptLine("", &command, &error));
}

TEST(FaceScriptTest, BadLinesSayWhatIsWrong) {
  EXPECT_THAT(ErrorOf("next /x"), HasSubstr("ENDPOINT BEHAVIOUR"));
  EXPECT_THAT(ErrorOf("next /x sometimes"), HasSubstr("unknown behaviour"));
  EXPECT_THAT(ErrorOf("next /x status=99"), HasSubstr("200 to 599"));
  EXPECT_THAT(ErrorOf("next /x status=600"), HasSubstr("200 to 599"));
  EXPECT_THAT(ErrorOf("next /x status=abc"), HasSubstr("200 to 599"));
  EXPECT_THAT(ErrorOf("next /x slow=-1"), HasSubstr("slow=SECONDS"));
  EXPECT_THAT(ErrorOf("next /x garbage empty"), HasSubstr("one behaviour"));
  EXPECT_THAT(ErrorOf("next /x drip=soon"), HasSubstr("drip=SECONDS"));
  EXPECT_THAT(ErrorOf("next /x wide=0"), HasSubstr("wide=N takes 1 to"));
  EXPECT_THAT(ErrorOf("next /x wide=10000001"), HasSubstr("wide=N takes 1 to"));
  EXPECT_THAT(ErrorOf("ws stop"), HasSubstr("ws: expected stall"));
  EXPECT_THAT(ErrorOf("push"), HasSubstr("none, twice"));
  EXPECT_THAT(ErrorOf("push thrice"), HasSubstr("none, twice"));
  EXPECT_THAT(ErrorOf("push-delay soon"), HasSubstr("SECONDS"));
  EXPECT_THAT(ErrorOf("down"), HasSubstr("SECONDS"));
  EXPECT_THAT(ErrorOf("wait 1e9"), HasSubstr("SECONDS"));
  EXPECT_THAT(ErrorOf("quit now"), HasSubstr("no arguments"));
  EXPECT_THAT(ErrorOf("reboot"), HasSubstr("unknown command"));
}

}  // namespace
}  // namespace facesim
