#include "tools/facesim/FrsMode.h"

#include "tools/facesim/JsonWriter.h"
#include "tools/facesim/RequestFields.h"

namespace facesim {

namespace {

std::string RecognizedMessage(const std::string& verifyId, const Person& person, double score,
                              int wide) {
  JsonWriter json;
  json.BeginObject().Key("verify_face_id").String(verifyId);
  json.Key("person_id").String(person.id).Key("score").Number(score);
  json.Key("person_info").BeginObject().Key("fullname").String(person.name);
  json.Key("group_list").BeginArray();
  for (const std::string& group : person.groups) {
    json.BeginObject().Key("groupname").String(group).EndObject();
  }
  json.EmptyObjects(wide).EndArray().EndObject().EndObject();
  return json.Text();
}

std::string UnrecognizedMessage(const std::string& verifyId, const std::string& bestName,
                                double bestScore) {
  JsonWriter json;
  json.BeginObject().Key("verify_face_id").String(verifyId);
  json.Key("highest_score").BeginObject();
  json.Key("fullname").String(bestName).Key("score").Number(bestScore);
  json.EndObject().EndObject();
  return json.Text();
}

}  // namespace

ServiceAnswer FrsMode::Handle(const ServiceRequest& request) {
  if (request.path == kLogin) return SessionLogin(request.body, options_, sessions_);
  if (request.path == kVerify) return Verify(request.body, request.wide);
  return Logout(request.body);
}

ServiceAnswer FrsMode::Verify(const std::string& body, int wide) {
  RequestFields fields;
  std::string sessionId, client, source, location, image;
  double targetScore = 0;
  int enable = 0;
  if (!fields.Parse(body) || !fields.Text("session_id", &sessionId) ||
      !fields.Number("target_score", &targetScore) || !fields.Text("request_client", &client) ||
      !fields.Integer("action_enable", &enable) || !fields.Text("source_id", &source) ||
      !fields.Text("location", &location) || !fields.Text("image", &image)) {
    return BadRequest(fields.Error());
  }
  if (!sessions_.Contains(sessionId)) return ErrorAnswer(401, "unknown session id");

  const Identification identification = gallery_.Identify(image);
  const std::string verifyId = NewUniqueId();
  ServiceAnswer answer = JsonAnswer(
      JsonWriter().BeginObject().Key("verify_face_id").String(verifyId).EndObject().Text());
  answer.problem = identification.problem;
  PushedResult push;
  push.verifyId = verifyId;
  push.stream = kUnrecognizedStream;
  push.message = [](const std::string& id) { return UnrecognizedMessage(id, "", 0); };
  if (!identification.ranking.empty()) {
    const Match best = identification.ranking.front();
    answer.person = best.person->id;
    answer.score = best.score;
    if (best.score >= targetScore) {
      push.stream = kRecognizedStream;
      push.message = [best, wide](const std::string& id) {
        return RecognizedMessage(id, *best.person, best.score, wide);
      };
      answer.widened = true;
    } else {
      push.message = [best](const std::string& id) {
        return UnrecognizedMessage(id, best.person->name, best.score);
      };
    }
  }
  answer.push = std::move(push);
  return answer;
}

ServiceAnswer FrsMode::Logout(const std::string& body) {
  RequestFields fields;
  std::string sessionId;
  if (!fields.Parse(body) || !fields.Text("sessionId", &sessionId)) {
    return BadRequest(fields.Error());
  }
  if (!sessions_.Close(sessionId)) return ErrorAnswer(401, "unknown session id");
  return JsonAnswer("{}");
}

}  // namespace facesim
