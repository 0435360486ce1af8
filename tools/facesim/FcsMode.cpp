#include "tools/facesim/FcsMode.h"

#include "tools/facesim/JsonWriter.h"
#include "tools/facesim/RequestFields.h"

namespace facesim {

namespace {

std::string Failure(int errorCode) {
  return JsonWriter()
      .BeginObject()
      .Key("status")
      .Integer(0)
      .Key("error_code")
      .Integer(errorCode)
      .EndObject()
      .Text();
}

// Whether the face was found, its angle usable and its features extracted: all three or none.
void WriteDetail(JsonWriter& json, bool success) {
  const char* outcome = success ? "success" : "fail";
  json.Key("result").BeginObject().Key("detail").BeginObject();
  json.Key("detect").String(outcome).Key("angle").String(outcome).Key("extract").String(outcome);
  json.EndObject().EndObject();
}

std::string WhoisAnswer(const Identification& identification, int wide) {
  JsonWriter json;
  json.BeginObject().Key("status").Integer(1);
  WriteDetail(json, identification.decoded);
  if (identification.decoded) {
    json.Key("candidates").BeginArray();
    for (const Match& match : identification.ranking) {
      json.BeginObject().Key("s").Number(match.score).Key("person_id").String(match.person->id);
      json.EndObject();
    }
    json.EmptyObjects(wide).EndArray();
  }
  return json.EndObject().Text();
}

std::string InfoAnswer(const Person& person, int wide) {
  JsonWriter json;
  json.BeginObject().Key("status").Integer(1).Key("person").BeginObject();
  json.Key("groups").BeginArray();
  for (const std::string& group : person.groups) json.String(group);
  json.EmptyObjects(wide).EndArray();
  json.Key("info").BeginObject().Key("name").String(person.name).EndObject();
  return json.EndObject().EndObject().Text();
}

}  // namespace

ServiceAnswer FcsMode::Handle(const ServiceRequest& request) {
  const bool whois = request.path == kWhois;
  RequestFields fields;
  std::string key, account, subject;
  if (!fields.Parse(request.body) || !fields.Text("access_key", &key) ||
      !fields.Text("acc_id", &account) ||
      !fields.Text(whois ? "face_pic" : "person_id", &subject)) {
    return BadRequest(fields.Error());
  }
  if (key != options_.accessKey || account != options_.account) {
    return JsonAnswer(Failure(kWrongAccount));
  }
  if (whois) {
    const Identification identification = gallery_.Identify(subject);
    ServiceAnswer answer = JsonAnswer(WhoisAnswer(identification, request.wide));
    answer.problem = identification.problem;
    answer.widened = identification.decoded;
    if (!identification.ranking.empty()) {
      answer.person = identification.ranking.front().person->id;
      answer.score = identification.ranking.front().score;
    }
    return answer;
  }
  const Person* person = gallery_.Find(subject);
  if (person == nullptr) return JsonAnswer(Failure(kUnknownPerson));
  ServiceAnswer answer = JsonAnswer(InfoAnswer(*person, request.wide));
  answer.person = person->id;
  answer.widened = true;
  return answer;
}

}  // namespace facesim
