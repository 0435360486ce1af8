#include "faceclient/FRSV2Client.h"

#include <cinttypes>
#include <memory>

#include "faceclient/GroupWalk.h"
#include "faceclient/SnapshotLog.h"
#include "platform/DebugOutput.h"
#include "support/JsonObject.h"
#include "support/PeerText.h"
#include "support/StringFormat.h"
#include "support/TextHelpers.h"

namespace {

constexpr const char* kJson = "application/json";
constexpr const char* kLoginPath = "/user/web/login";

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string FrsV2LogoutPath(const std::string& sessionId) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : sessionId) {
    if (IsUnreserved(c)) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  return StringFormat("/user/base/logout?sessionId=%s", encoded.c_str());
}

unsigned FRSV2Client::Run(Worker& worker) { return RunStandardLoop(worker); }

// A refused or failed login leaves the snapshot as the intake made it; a login answer that
// this side abandoned (too large, too slow, cancelled) gives no usable answer.
void FRSV2Client::ProcessSnapshot(Worker& worker, FaceSnapshot* snapshot) {
  const ServiceAnswer login = PostLogin(worker, kLoginPath);
  if (!login.Ok()) {
    if (login.abandoned) snapshot->GroupId = kGroupNoAnswer;
    return;
  }
  Verify(worker, snapshot);
  Logout(worker);
}

void FRSV2Client::Verify(Worker& worker, FaceSnapshot* snapshot) {
  snapshot->PersonId.clear();
  snapshot->GroupId = kGroupNoAnswer;

  neb::CJsonObject options;
  options.Add("threshold", config->Score);
  options.Add("hasReport", 1);
  neb::CJsonObject request;
  request.Add("sessionId", worker.sessionId);
  request.Add("imageBase64", "data:image/jpg;base64," + snapshot->Picture);
  request.Add("options", options);
  const ServiceAnswer answer = Post(worker, "/frengine/verify-face", request.ToString(), kJson);
  if (!answer.Ok()) {
    LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %s, %d, %" PRId64 " @1====",
                    answer.Describe().c_str(), snapshot->FaceID, Now());
  } else {
    LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %d, %s, %" PRId64 " @2====",
                    snapshot->FaceID, LogSafe(answer.body).c_str(), Now());
    const neb::CJsonObject reply(answer.body);
    bool isMatch = true;
    double score = 0.0;
    if (reply.Get("isMatch", isMatch) && !isMatch) {
      snapshot->GroupId = kGroupNoMatch;
    } else if (!reply.Get("score", score)) {
      // no score: no usable answer
    } else if (config->Score > score) {
      snapshot->GroupId = kGroupNoMatch;
    } else {
      GroupWalk walk;
      neb::CJsonObject groups;
      if (reply.Get("personGroups", groups)) {
        for (int i = 0; i < groups.GetArraySize(); ++i) {
          neb::CJsonObject group;
          std::string name;
          if (!groups.Get(i, group) || !group.Get("name", name)) continue;
          platform::DebugOutput(LogSafe(name));
          if (!walk.Visit(name)) break;
        }
      }
      std::string personId;
      std::string personName;
      if (reply.Get("personId", personId) && reply.Get("personName", personName)) {
        snapshot->PersonId = personId;
        snapshot->Confidence = StringFormat("%f", score);
        std::unique_ptr<char[]> converted(Utf8ToAnsi(personName.c_str()));
        snapshot->PersonName = converted.get();
        snapshot->GroupId = walk.Code();
        snapshot->PersonGroup = walk.Name();
      }
    }
  }
  LogSnapshotLine(kSnapshotLineShort, "Process face snapshot: %d, %" PRId64 " @6====",
                  snapshot->FaceID, Now());
}

bool FRSV2Client::Logout(Worker& worker) {
  return Post(worker, FrsV2LogoutPath(worker.sessionId), "", nullptr).Ok();
}
