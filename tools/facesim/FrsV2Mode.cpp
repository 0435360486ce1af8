#include "tools/facesim/FrsV2Mode.h"

#include <sstream>

#include "tools/facesim/JsonWriter.h"
#include "tools/facesim/RequestFields.h"

namespace facesim {

namespace {

// The value of name in a query of name=value pairs joined by '&' (taken as written: the ids
// this service hands out need no escaping).
bool QueryValue(const std::string& query, const std::string& name, std::string* value) {
  std::stringstream stream(query);
  std::string pair;
  while (std::getline(stream, pair, '&')) {
    if (pair.rfind(name + "=", 0) == 0) {
      *value = pair.substr(name.size() + 1);
      return true;
    }
  }
  return false;
}

std::string VerifyAnswer(const Identification& identification, double threshold, int wide) {
  JsonWriter json;
  json.BeginObject();
  if (identification.ranking.empty()) {
    json.Key("isMatch").Bool(false).Key("score").Number(0);
    return json.EndObject().Text();
  }
  const Match& best = identification.ranking.front();
  json.Key("isMatch").Bool(best.score >= threshold).Key("score").Number(best.score);
  json.Key("personId").String(best.person->id).Key("personName").String(best.person->name);
  json.Key("personGroups").BeginArray();
  for (const std::string& group : best.person->groups) {
    json.BeginObject().Key("name").String(group).EndObject();
  }
  return json.EmptyObjects(wide).EndArray().EndObject().Text();
}

}  // namespace

ServiceAnswer FrsV2Mode::Handle(const ServiceRequest& request) {
  if (request.path == kLogin) return SessionLogin(request.body, options_, sessions_);
  if (request.path == kVerify) return Verify(request.body, request.wide);
  return Logout(request.query);
}

ServiceAnswer FrsV2Mode::Verify(const std::string& body, int wide) {
  RequestFields fields, options;
  std::string sessionId, picture;
  double threshold = 0;
  int hasReport = 0;
  if (!fields.Parse(body) || !fields.Text("sessionId", &sessionId) ||
      !fields.Text("imageBase64", &picture)) {
    return BadRequest(fields.Error());
  }
  if (!fields.Object("options", &options)) return BadRequest(fields.Error());
  if (!options.Number("threshold", &threshold) || !options.Integer("hasReport", &hasReport)) {
    return BadRequest("options: " + options.Error());
  }
  const std::string prefix = kPicturePrefix;
  if (picture.rfind(prefix, 0) != 0) {
    return BadRequest("imageBase64 does not begin with \"" + prefix + "\"");
  }
  if (!sessions_.Contains(sessionId)) return ErrorAnswer(401, "unknown session id");

  const Identification identification = gallery_.Identify(picture.substr(prefix.size()));
  ServiceAnswer answer = JsonAnswer(VerifyAnswer(identification, threshold, wide));
  answer.problem = identification.problem;
  if (!identification.ranking.empty()) {
    answer.widened = true;
    answer.person = identification.ranking.front().person->id;
    answer.score = identification.ranking.front().score;
  }
  return answer;
}

ServiceAnswer FrsV2Mode::Logout(const std::string& query) {
  std::string sessionId;
  if (!QueryValue(query, "sessionId", &sessionId)) {
    return BadRequest("the query has no sessionId");
  }
  if (!sessions_.Close(sessionId)) return ErrorAnswer(401, "unknown session id");
  return JsonAnswer("{}");
}

}  // namespace facesim
