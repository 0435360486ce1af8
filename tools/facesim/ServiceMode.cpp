#include "tools/facesim/ServiceMode.h"

#include "tools/facesim/FcsMode.h"
#include "tools/facesim/FrsMode.h"
#include "tools/facesim/FrsV2Mode.h"
#include "tools/facesim/JsonWriter.h"
#include "tools/facesim/RequestFields.h"

namespace facesim {

std::unique_ptr<ServiceMode> MakeServiceMode(const FaceSimOptions& options,
                                             const Gallery& gallery) {
  switch (options.mode) {
    case Mode::Frs:
      return std::make_unique<FrsMode>(options, gallery);
    case Mode::Fcs:
      return std::make_unique<FcsMode>(options, gallery);
    case Mode::FrsV2:
      break;
  }
  return std::make_unique<FrsV2Mode>(options, gallery);
}

ServiceAnswer ErrorAnswer(int status, const std::string& message) {
  ServiceAnswer answer;
  answer.status = status;
  answer.body = JsonWriter().BeginObject().Key("error").String(message).EndObject().Text();
  return answer;
}

ServiceAnswer BadRequest(const std::string& problem) {
  ServiceAnswer answer = ErrorAnswer(400, problem);
  answer.problem = problem;
  return answer;
}

ServiceAnswer JsonAnswer(std::string body) {
  ServiceAnswer answer;
  answer.body = std::move(body);
  return answer;
}

ServiceAnswer SessionLogin(const std::string& body, const FaceSimOptions& options,
                           SessionTable& sessions) {
  RequestFields fields;
  std::string user, password;
  if (!fields.Parse(body) || !fields.Text("username", &user) ||
      !fields.Text("password", &password)) {
    return BadRequest(fields.Error());
  }
  if (user != options.user || password != options.password) {
    return ErrorAnswer(401, "wrong user name or password");
  }
  return JsonAnswer(
      JsonWriter().BeginObject().Key("sessionId").String(sessions.Open()).EndObject().Text());
}

}  // namespace facesim
