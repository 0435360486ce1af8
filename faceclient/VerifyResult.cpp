#include "faceclient/VerifyResult.h"

#include <memory>

#include "faceclient/GroupWalk.h"
#include "platform/DebugOutput.h"
#include "records/FaceSnapshot.h"
#include "support/JsonObject.h"
#include "support/PeerText.h"
#include "support/StringFormat.h"
#include "support/TextHelpers.h"

bool DecodeRecognizedMessage(const std::string& payload, VerifyResult* result) {
  const neb::CJsonObject message(payload);
  neb::CJsonObject personInfo;
  neb::CJsonObject groupList;
  if (!message.Get("person_info", personInfo) || !personInfo.Get("group_list", groupList)) {
    return false;
  }
  GroupWalk walk;
  for (int i = 0; i < groupList.GetArraySize(); ++i) {
    neb::CJsonObject group;
    std::string name;
    if (!groupList.Get(i, group) || !group.Get("groupname", name)) continue;
    platform::DebugOutput(LogSafe(name));
    if (!walk.Visit(name)) break;
  }
  std::string verifyId;
  std::string personId;
  std::string fullName;
  double score = 0.0;
  if (!message.Get("verify_face_id", verifyId) || !message.Get("person_id", personId) ||
      !personInfo.Get("fullname", fullName) || !message.Get("score", score)) {
    return false;
  }
  std::unique_ptr<char[]> name(Utf8ToAnsi(fullName.c_str()));
  result->verifyId = verifyId;
  result->personId = personId;
  result->groupId = walk.Code();
  result->groupName = walk.Name();
  result->personName = name.get();
  result->confidence = StringFormat("%f", score);
  return true;
}

bool DecodeUnrecognizedMessage(const std::string& payload, VerifyResult* result) {
  const neb::CJsonObject message(payload);
  std::string verifyId;
  neb::CJsonObject highestScore;
  std::string fullName;
  if (!message.Get("verify_face_id", verifyId) || !message.Get("highest_score", highestScore) ||
      !highestScore.Get("fullname", fullName)) {
    return false;
  }
  result->verifyId = verifyId;
  result->personId.clear();
  result->groupId = kGroupNoMatch;
  result->groupName.clear();
  result->personName.clear();
  result->confidence = "0.0";
  return true;
}
