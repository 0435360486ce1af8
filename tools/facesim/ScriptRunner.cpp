#include "tools/facesim/ScriptRunner.h"

namespace facesim {

void ScriptRunner::Start() {
  loop_.Start(
      [this](const std::string& line, const std::string& where) { return RunLine(line, where); });
}

bool ScriptRunner::RunLine(const std::string& line, const std::string& where) {
  ScriptCommand command;
  if (!loop_.ParseLine(ParseScriptLine, line, where, &command)) return true;
  switch (command.kind) {
    case ScriptCommand::Kind::Next:
      if (!server_.IsEndpoint(command.endpoint)) {
        loop_.BadLine(where, "next: " + command.endpoint + " is not an endpoint of this service (" +
                                 server_.EndpointList() + ")");
      } else {
        server_.ArmFault(command.endpoint, command.fault);
      }
      break;
    case ScriptCommand::Kind::WsStall:
      server_.StallStreams();
      break;
    case ScriptCommand::Kind::Push:
      server_.ArmPush(command.push);
      break;
    case ScriptCommand::Kind::PushDelay:
      server_.SetPushDelay(command.seconds);
      break;
    case ScriptCommand::Kind::Down:
      server_.GoDown();
      loop_.Sleep(command.seconds);
      server_.GoUp();
      break;
    case ScriptCommand::Kind::Wait:
      loop_.Sleep(command.seconds);
      break;
    case ScriptCommand::Kind::Quit:
      quit_();
      return false;
  }
  return true;
}

}  // namespace facesim
