#include "faceclient/FRSClient.h"

#include <cinttypes>
#include <exception>

#include "faceclient/SnapshotLog.h"
#include "metrics/Metrics.h"
#include "platform/DebugOutput.h"
#include "support/JsonObject.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"

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
  eventStream->Start(config->Ip.c_str(), config->Port, config->Tls, config->CaFile);
}

void FRSClient::OnStop() {
  if (eventStream == nullptr) return;
  eventStream->Stop();
  eventStream.reset();
  streamStopEvent.reset();
}

void FRSClient::PushVerifyResult(VerifyResult* result) {
  if (result == nullptr) return;
  const std::size_t bytes = result->Bytes();
  {
    platform::ScopedLock guard(resultLock);
    if (verifiedEvent != nullptr && results.size() < kMaxResults &&
        resultBytes_ + bytes <= kMaxResultBytes) {
      results.push_back(result);
      resultBytes_ += bytes;
      verifiedEvent->Set();
      return;
    }
  }
  CLogHelper::GetInstance()->LogDebugF("Verify result %s dropped: too many results waiting",
                                       LogSafe(result->verifyId).c_str());
  delete result;
}

unsigned FRSClient::Run() {
  for (;;) {
    const int signalled = platform::WaitForAny(
        {stopEvent.get(), verifiedEvent.get(), queueEvent.get()}, kWorkerWaitMs);
    if (signalled == 0) return 0;
    try {
      HandleWakeUp(signalled);
    } catch (const std::exception& e) {
      platform::DebugOutput(std::string("FRS client worker step failed: ") + e.what());
    } catch (...) {
      platform::DebugOutput("FRS client worker step failed");
    }
    metrics::FacePending(pending.size());
  }
}

void FRSClient::HandleWakeUp(int signalled) {
  switch (signalled) {
    case 1:
      platform::DebugOutput("====verified event triggered====");
      HandleOneResult();
      break;
    case 2:
      if (FaceSnapshot* snapshot = TakeQueuedSnapshot()) ProcessSnapshot(snapshot);
      break;
    default:
      ExpirePending();
      break;
  }
}

bool FRSClient::HandleOneResult() {
  std::unique_ptr<VerifyResult> result;
  bool emptied = false;
  {
    platform::ScopedLock guard(resultLock);
    if (!results.empty()) {
      result.reset(results.front());
      results.pop_front();
      resultBytes_ -= result->Bytes();
    }
    if (results.empty() && verifiedEvent != nullptr) {
      verifiedEvent->Reset();
      emptied = true;
    }
  }
  if (emptied) platform::DebugOutput("====verified event reset====");
  if (result == nullptr) return false;
  auto found = pending.find(result->verifyId);
  if (found == pending.end()) return true;  // expired already, or not ours
  std::unique_ptr<FaceSnapshot> snapshot(found->second);
  pending.erase(found);
  snapshot->PersonId = result->personId;
  snapshot->GroupId = result->groupId;
  snapshot->PersonGroup = result->groupName;
  snapshot->Confidence = result->confidence;
  snapshot->PersonName = result->personName;
  if (resultCallback != nullptr) resultCallback(owner, snapshot.get());
  LogSnapshotLine(kSnapshotLineShort,
                  "Process face snapshot: %s, %s, %" PRId64 ", %" PRId64 " %d, %d @4====",
                  LogSafe(result->verifyId).c_str(), LogSafe(snapshot->VerifyId).c_str(), Now(),
                  snapshot->VerifyTime, snapshot->GroupId, snapshot->FaceID);
  return true;
}

void FRSClient::ProcessSnapshot(FaceSnapshot* snapshot) {
  FaceSnapshot* inHand = snapshot;
  try {
    if (Login()) {
      if (Verify(snapshot)) inHand = nullptr;
      Logout();
    } else {
      LogSnapshotLine(kSnapshotLineShort, "Process face snapshot: %d, %" PRId64 ", %d @8====",
                      snapshot->FaceID, Now(), snapshot->FaceID);
    }
  } catch (const std::exception& e) {
    platform::DebugOutput(std::string("FRS client request failed: ") + e.what());
  } catch (...) {
    platform::DebugOutput("FRS client request failed");
  }
  if (inHand != nullptr) DeliverUnidentified(inHand);
}

void FRSClient::ExpirePending() {
  for (auto it = pending.begin(); it != pending.end();) {
    FaceSnapshot* snapshot = it->second;
    // A negative age (the clock was set back) keeps the entry.
    if (snapshot->VerifyTime == 0 || Now() - snapshot->VerifyTime < kExpirySeconds) {
      ++it;
      continue;
    }
    std::unique_ptr<FaceSnapshot> owned(snapshot);
    it = pending.erase(it);
    snapshot->VerifyId.clear();
    snapshot->PersonId.clear();
    snapshot->GroupId = kGroupNoAnswer;
    if (resultCallback != nullptr) resultCallback(owner, snapshot);
    LogSnapshotLine(kSnapshotLineShort,
                    "Process face snapshot: %s, %" PRId64 ", %" PRId64 " %d, %d @5====",
                    snapshot->VerifyId.c_str(), Now(), snapshot->VerifyTime, snapshot->GroupId,
                    snapshot->FaceID);
  }
}

bool FRSClient::Login() { return PostLogin("/users/login", &sessionId).Ok(); }

bool FRSClient::Verify(FaceSnapshot* snapshot) {
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
                    LogSafe(answer.body).c_str(), snapshot->FaceID, Now());
    std::string verifyId;
    if (neb::CJsonObject(answer.body).Get("verify_face_id", verifyId) && !verifyId.empty()) {
      snapshot->VerifyId = verifyId;
      snapshot->VerifyTime = Now();
      LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %s, %d, %" PRId64 " @6====",
                      LogSafe(verifyId).c_str(), snapshot->FaceID, Now());
      AddPending(snapshot);  // the last step: the table owns the snapshot from here on
      return true;
    }
  }
  LogSnapshotLine(kSnapshotLineShort, "Process face snapshot: %d, %" PRId64 " @7====",
                  snapshot->FaceID, Now());
  return false;
}

// The table holds one snapshot per verify id: an older one under the same id, or the oldest
// one when the table is full, is written unidentified at once rather than dropped.
void FRSClient::AddPending(FaceSnapshot* snapshot) {
  CLogHelper* log = CLogHelper::GetInstance();
  auto same = pending.find(snapshot->VerifyId);
  if (same != pending.end()) {
    log->LogInfoF("Verify id %s is already pending: snapshot %d written without identification",
                  LogSafe(snapshot->VerifyId).c_str(), same->second->FaceID);
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

// The stream has stopped and the worker has ended: results that arrived are matched first, so
// that a snapshot whose identity came in time is written with it.
void FRSClient::DeliverUnfinished() {
  while (HandleOneResult()) {
  }
  if (!pending.empty()) {
    CLogHelper::GetInstance()->LogInfoF(
        "Face client stopped with %zu snapshots waiting for their result; they are written "
        "without identification",
        pending.size());
  }
  for (auto& entry : pending) DeliverUnidentified(entry.second);
  pending.clear();
}
