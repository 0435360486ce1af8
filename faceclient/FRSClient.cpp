#include "faceclient/FRSClient.h"

#include <cinttypes>

#include "faceclient/SnapshotLog.h"
#include "metrics/Metrics.h"
#include "platform/DebugOutput.h"
#include "support/JsonObject.h"
#include "support/LogHelper.h"

namespace {

constexpr const char* kJson = "application/json";
constexpr const char* kRecognizedPath = "fcsreconizedresult";
constexpr const char* kUnrecognizedPath = "fcsnonreconizedresult";
constexpr int kWorkerWaitMs = 10;

}  // namespace

FRSClient::FRSClient() = default;

FRSClient::~FRSClient() {
  eventStream.reset();
  for (VerifyResult* result : results) delete result;
  for (auto& entry : pending) delete entry.second;
}

void FRSClient::OnStart() {
  verifiedEvent = std::make_unique<platform::Event>(true, false);
  streamStopEvent = std::make_unique<platform::Event>(true, false);
  eventStream = std::make_unique<EventStream>(kRecognizedPath, kUnrecognizedPath,
                                              streamStopEvent.get(), this, streamTickPeriodMs_);
  eventStream->Start(config->Ip.c_str(), config->Port);
}

void FRSClient::OnStop() {
  if (eventStream == nullptr) return;
  eventStream->Stop();
  eventStream.reset();
  streamStopEvent.reset();
}

void FRSClient::PushVerifyResult(VerifyResult* result) {
  if (result == nullptr) return;
  {
    platform::ScopedLock guard(resultLock);
    if (verifiedEvent != nullptr && results.size() < kMaxResults) {
      results.push_back(result);
      verifiedEvent->Set();
      return;
    }
  }
  CLogHelper::GetInstance()->LogDebugF("Verify result %s dropped: too many results waiting",
                                       result->verifyId.c_str());
  delete result;
}

unsigned FRSClient::Run() {
  for (;;) {
    const int signalled = platform::WaitForAny(
        {stopEvent.get(), verifiedEvent.get(), queueEvent.get()}, kWorkerWaitMs);
    switch (signalled) {
      case 0:
        return 0;
      case 1:
        HandleOneResult();
        break;
      case 2:
        ProcessQueuedSnapshot();
        break;
      default:
        ExpirePending();
        break;
    }
    metrics::FacePending(pending.size());
  }
}

void FRSClient::HandleOneResult() {
  platform::DebugOutput("====verified event triggered====");
  std::unique_ptr<VerifyResult> result;
  bool emptied = false;
  {
    platform::ScopedLock guard(resultLock);
    if (!results.empty()) {
      result.reset(results.front());
      results.pop_front();
    }
    if (results.empty()) {
      verifiedEvent->Reset();
      emptied = true;
    }
  }
  if (emptied) platform::DebugOutput("====verified event reset====");
  if (result == nullptr) return;
  auto found = pending.find(result->verifyId);
  if (found == pending.end()) return;  // expired already, or not ours
  FaceSnapshot* snapshot = found->second;
  pending.erase(found);
  snapshot->PersonId = result->personId;
  snapshot->GroupId = result->groupId;
  snapshot->PersonGroup = result->groupName;
  snapshot->Confidence = result->confidence;
  snapshot->PersonName = result->personName;
  if (resultCallback != nullptr) resultCallback(owner, snapshot);
  LogSnapshotLine(kSnapshotLineShort,
                  "Process face snapshot: %s, %s, %" PRId64 ", %" PRId64 " %d, %d @4====",
                  result->verifyId.c_str(), snapshot->VerifyId.c_str(), Now(),
                  snapshot->VerifyTime, snapshot->GroupId, snapshot->FaceID);
  delete snapshot;
}

void FRSClient::ProcessQueuedSnapshot() {
  FaceSnapshot* snapshot = TakeQueuedSnapshot();
  if (snapshot == nullptr) return;
  if (Login()) {
    Verify(snapshot);
    Logout();
    return;
  }
  snapshot->VerifyId.clear();
  snapshot->PersonId.clear();
  snapshot->GroupId = kGroupNoAnswer;
  LogSnapshotLine(kSnapshotLineShort, "Process face snapshot: %d, %" PRId64 ", %d @8====",
                  snapshot->FaceID, Now(), snapshot->FaceID);
  Deliver(snapshot);
}

void FRSClient::ExpirePending() {
  for (auto it = pending.begin(); it != pending.end();) {
    FaceSnapshot* snapshot = it->second;
    // A negative age (the clock was set back) keeps the entry.
    if (snapshot->VerifyTime == 0 || Now() - snapshot->VerifyTime < kExpirySeconds) {
      ++it;
      continue;
    }
    snapshot->VerifyId.clear();
    snapshot->PersonId.clear();
    snapshot->GroupId = kGroupNoAnswer;
    if (resultCallback != nullptr) resultCallback(owner, snapshot);
    LogSnapshotLine(kSnapshotLineShort,
                    "Process face snapshot: %s, %" PRId64 ", %" PRId64 " %d, %d @5====",
                    snapshot->VerifyId.c_str(), Now(), snapshot->VerifyTime, snapshot->GroupId,
                    snapshot->FaceID);
    delete snapshot;
    it = pending.erase(it);
  }
}

bool FRSClient::Login() { return PostLogin("/users/login", &sessionId); }

void FRSClient::Verify(FaceSnapshot* snapshot) {
  neb::CJsonObject request;
  request.Add("session_id", sessionId);
  request.Add("target_score", config->Score);
  request.Add("request_client", config->Client);
  request.Add("action_enable", config->Enable);
  request.Add("source_id", config->Source);
  request.Add("location", config->Location);
  request.Add("image", snapshot->Picture);
  const ServiceAnswer answer = Post("/frs/cgi/verifyface", request.ToString(), kJson);
  if (answer.Ok()) {
    LogSnapshotLine(kSnapshotLineBody, "Process face snapshot: %s, %d, %" PRId64 " @6====",
                    answer.body.c_str(), snapshot->FaceID, Now());
    std::string verifyId;
    if (neb::CJsonObject(answer.body).Get("verify_face_id", verifyId) && !verifyId.empty()) {
      snapshot->VerifyId = verifyId;
      snapshot->VerifyTime = Now();
      AddPending(snapshot);
      LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %s, %d, %" PRId64 " @6====",
                      verifyId.c_str(), snapshot->FaceID, Now());
      return;
    }
  }
  snapshot->VerifyId.clear();
  snapshot->PersonId.clear();
  snapshot->GroupId = kGroupNoAnswer;
  LogSnapshotLine(kSnapshotLineShort, "Process face snapshot: %d, %" PRId64 " @7====",
                  snapshot->FaceID, Now());
  Deliver(snapshot);
}

// The table holds one snapshot per verify id: an older one under the same id, or the oldest
// one when the table is full, is written unidentified at once rather than dropped.
void FRSClient::AddPending(FaceSnapshot* snapshot) {
  CLogHelper* log = CLogHelper::GetInstance();
  auto same = pending.find(snapshot->VerifyId);
  if (same != pending.end()) {
    log->LogInfoF("Verify id %s is already pending: snapshot %d written without identification",
                  snapshot->VerifyId.c_str(), same->second->FaceID);
    FaceSnapshot* older = same->second;
    pending.erase(same);
    DeliverUnidentified(older);
  } else if (pending.size() >= kMaxPending) {
    auto oldest = pending.begin();
    for (auto it = pending.begin(); it != pending.end(); ++it) {
      if (it->second->VerifyTime < oldest->second->VerifyTime) oldest = it;
    }
    log->LogInfoF("Too many snapshots wait for their result: snapshot %d written without "
                  "identification",
                  oldest->second->FaceID);
    FaceSnapshot* given = oldest->second;
    pending.erase(oldest);
    DeliverUnidentified(given);
  }
  pending[snapshot->VerifyId] = snapshot;
}

bool FRSClient::Logout() {
  neb::CJsonObject request;
  request.Add("sessionId", sessionId);
  return Post("/users/logout", request.ToString(), kJson).Ok();
}

void FRSClient::DeliverUnfinished() {
  if (!pending.empty()) {
    CLogHelper::GetInstance()->LogInfoF(
        "Face client stopped with %zu snapshots waiting for their result; they are written "
        "without identification",
        pending.size());
  }
  for (auto& entry : pending) DeliverUnidentified(entry.second);
  pending.clear();
  platform::ScopedLock guard(resultLock);
  for (VerifyResult* result : results) delete result;
  results.clear();
}
