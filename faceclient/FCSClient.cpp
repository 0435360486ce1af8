#include "faceclient/FCSClient.h"

#include <cinttypes>
#include <cstdlib>
#include <memory>

#include "faceclient/GroupWalk.h"
#include "faceclient/SnapshotLog.h"
#include "support/JsonObject.h"
#include "support/PeerText.h"
#include "support/StringFormat.h"
#include "support/TextHelpers.h"

namespace {

constexpr const char* kJson = "application/json";

// A request body starts with the account's credentials.
void AddCredentials(const FaceServiceConfig& config, neb::CJsonObject* body) {
  body->Add("access_key", config.AccessKey);
  body->Add("acc_id", config.AccountId);
}

}  // namespace

unsigned FCSClient::Run(Worker& worker) { return RunStandardLoop(worker); }

void FCSClient::ProcessSnapshot(Worker& worker, FaceSnapshot* snapshot) {
  if (WhoIs(worker, snapshot) == 1) PersonInfo(worker, snapshot);
}

int FCSClient::WhoIs(Worker& worker, FaceSnapshot* snapshot) {
  snapshot->PersonId.clear();
  snapshot->GroupId = kGroupNoAnswer;
  int result = 0;

  neb::CJsonObject request;
  AddCredentials(*config, &request);
  request.Add("face_pic", snapshot->Picture);
  const ServiceAnswer answer = Post(worker, "/api/fcs/person/whois", request.ToString(), kJson);
  if (!answer.Ok()) {
    LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %s, %d, %" PRId64 " @1====",
                    answer.Describe().c_str(), snapshot->FaceID, Now());
  } else {
    LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %d, %" PRId64 " @2====",
                    snapshot->FaceID, Now());
    const neb::CJsonObject reply(answer.body);
    int status = 0;
    neb::CJsonObject detail;
    neb::CJsonObject resultObject;
    bool qualityFailed = false;
    if (reply.Get("result", resultObject) && resultObject.Get("detail", detail)) {
      for (const char* step : {"detect", "angle", "extract"}) {
        std::string outcome;
        if (detail.Get(step, outcome) && outcome == "fail") {
          qualityFailed = true;
          break;
        }
      }
    }
    neb::CJsonObject candidates;
    if (reply.Get("status", status) && status != 1) {
      int errorCode = 0;
      reply.Get("error_code", errorCode);
      LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %d, %d, %" PRId64 " @3====",
                      snapshot->FaceID, errorCode, Now());
    } else if (qualityFailed) {
      snapshot->GroupId = kGroupDetectFailed;
    } else if (reply.Get("candidates", candidates)) {
      snapshot->GroupId = kGroupNoMatch;
      snapshot->Confidence = "0.0";
      for (int i = 0; i < candidates.GetArraySize(); ++i) {
        neb::CJsonObject candidate;
        double score = 0.0;
        if (!candidates.Get(i, candidate) || !candidate.Get("s", score)) continue;
        // The running best is the confidence text read back, so it counts with two decimals.
        if (score > config->Score && score > std::strtod(snapshot->Confidence.c_str(), nullptr)) {
          candidate.Get("person_id", snapshot->PersonId);
          snapshot->Confidence = StringFormat("%.2f", score);
          result = 1;
        }
        LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %d, %s, %" PRId64 " @4====",
                        snapshot->FaceID, LogSafe(snapshot->PersonId).c_str(), Now());
      }
    }
  }
  LogSnapshotLine(kSnapshotLineShort, "Process face snapshot: %d, %" PRId64 " @6====",
                  snapshot->FaceID, Now());
  return result;
}

void FCSClient::PersonInfo(Worker& worker, FaceSnapshot* snapshot) {
  neb::CJsonObject request;
  AddCredentials(*config, &request);
  request.Add("person_id", snapshot->PersonId);
  const ServiceAnswer answer = Post(worker, "/api/fcs/person/info", request.ToString(), kJson);
  if (!answer.Ok()) {
    LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %s, %d, %" PRId64 " @7====",
                    answer.Describe().c_str(), snapshot->FaceID, Now());
    return;
  }
  LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %s, %d, %" PRId64 " @8====",
                  LogSafe(answer.body).c_str(), snapshot->FaceID, Now());
  const neb::CJsonObject reply(answer.body);
  int status = 0;
  if (reply.Get("status", status) && status != 1) {
    reply.Get("error_code", status);  // the status stands when there is no error code
    LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %d, %d, %" PRId64 " @9====",
                    snapshot->FaceID, status, Now());
    return;
  }
  neb::CJsonObject person;
  if (!reply.Get("person", person)) {
    LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %d, %" PRId64 " @10====",
                    snapshot->FaceID, Now());
    return;
  }
  GroupWalk walk;
  neb::CJsonObject groups;
  if (person.Get("groups", groups)) {
    for (int i = 0; i < groups.GetArraySize(); ++i) {
      std::string name;
      if (groups.Get(i, name) && !walk.Visit(name)) break;
    }
  }
  snapshot->GroupId = walk.Code();
  snapshot->PersonGroup = walk.Name();
  neb::CJsonObject info;
  std::string name;
  if (person.Get("info", info) && info.Get("name", name)) {
    std::unique_ptr<char[]> converted(Utf8ToAnsi(name.c_str()));
    snapshot->PersonName += converted.get();
  }
}
