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

unsigned FRSClient::Run(Worker& worker) {
  for (;;) {
    const int signalled = platform::WaitForAny(
        {stopEvent.get(), verifiedEvent.get(), queueEvent.get()}, kWorkerWaitMs);
    if (signalled == 0) return 0;
    try {
      HandleWakeUp(worker, signalled);
    } catch (const std::exception& e) {
      platform::DebugOutput(std::string("FRS client worker step failed: ") + e.what());
    } catch (...) {
      platform::DebugOutput("FRS client worker step failed");
    }
  }
}

void FRSClient::HandleWakeUp(Worker& worker, int signalled) {
  switch (signalled) {
    case 1:
      platform::DebugOutput("====verified event triggered====");
      HandleOneResult();
      break;
    case 2:
      if (FaceSnapshot* snapshot = TakeQueuedSnapshot()) {
        StageWatch::Item item(worker.watched.get());
        ProcessSnapshot(worker, snapshot);
      }
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
  std::unique_ptr<FaceSnapshot> snapshot;
  bool dropped = false;
  {
    platform::ScopedLock guard(pendingLock);
    snapshot = TakePendingLocked(result->verifyId);
    if (snapshot == nullptr && !verifiesInFlight_.empty()) {
      // Its snapshot may be on its way into the table.
      if (heldResults_.size() < kMaxResults) {
        heldResults_.push_back({std::move(result), nextVerifyTicket_ - 1});
      } else {
        dropped = true;
      }
    }
  }
  if (dropped) {
    CLogHelper::GetInstance()->LogDebugF("Verify result %s dropped: too many results waiting",
                                         LogSafe(result->verifyId).c_str());
  }
  // Without a snapshot (expired already, or not ours) the result ends here.
  if (snapshot != nullptr) Complete({std::move(snapshot), std::move(result)});
  return true;
}

void FRSClient::Complete(Match match) {
  FaceSnapshot& snapshot = *match.first;
  const VerifyResult& result = *match.second;
  snapshot.PersonId = result.personId;
  snapshot.GroupId = result.groupId;
  snapshot.PersonGroup = result.groupName;
  snapshot.Confidence = result.confidence;
  snapshot.PersonName = result.personName;
  HandOver(snapshot);
  LogSnapshotLine(kSnapshotLineShort,
                  "Process face snapshot: %s, %s, %" PRId64 ", %" PRId64 " %d, %d @4====",
                  LogSafe(result.verifyId).c_str(), LogSafe(snapshot.VerifyId).c_str(), Now(),
                  snapshot.VerifyTime, snapshot.GroupId, snapshot.FaceID);
}

void FRSClient::ProcessSnapshot(Worker& worker, FaceSnapshot* snapshot) {
  FaceSnapshot* inHand = snapshot;
  try {
    if (Login(worker)) {
      if (Verify(worker, snapshot)) inHand = nullptr;
      Logout(worker);
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
  std::vector<std::unique_ptr<FaceSnapshot>> expired;
  {
    platform::ScopedLock guard(pendingLock);
    if (pending.empty()) return;
    const int64_t now = Now();
    for (auto it = pending.begin(); it != pending.end();) {
      const FaceSnapshot* snapshot = it->second;
      // A negative age (the clock was set back) keeps the entry.
      if (snapshot->VerifyTime == 0 || now - snapshot->VerifyTime < kExpirySeconds) {
        ++it;
        continue;
      }
      expired.emplace_back(it->second);
      it = pending.erase(it);
    }
    metrics::FacePending(pending.size());
  }
  for (auto& snapshot : expired) {
    snapshot->VerifyId.clear();
    snapshot->PersonId.clear();
    snapshot->GroupId = kGroupNoAnswer;
    HandOver(*snapshot);
    LogSnapshotLine(kSnapshotLineShort,
                    "Process face snapshot: %s, %" PRId64 ", %" PRId64 " %d, %d @5====",
                    snapshot->VerifyId.c_str(), Now(), snapshot->VerifyTime, snapshot->GroupId,
                    snapshot->FaceID);
  }
}

bool FRSClient::Login(Worker& worker) { return PostLogin(worker, "/users/login").Ok(); }

bool FRSClient::Verify(Worker& worker, FaceSnapshot* snapshot) {
  neb::CJsonObject request;
  request.Add("session_id", worker.sessionId);
  request.Add("target_score", config->Score);
  request.Add("request_client", config->Client);
  request.Add("action_enable", config->Enable);
  request.Add("source_id", config->Source);
  request.Add("location", config->Location);
  request.Add("image", snapshot->Picture);
  const uint64_t ticket = BeginVerify();
  try {
    const ServiceAnswer answer = Post(worker, "/frs/cgi/verifyface", request.ToString(), kJson);
    if (answer.Ok()) {
      LogSnapshotLine(kSnapshotLineBody, "Process face snapshot: %s, %d, %" PRId64 " @6====",
                      LogSafe(answer.body).c_str(), snapshot->FaceID, Now());
      std::string verifyId;
      if (neb::CJsonObject(answer.body).Get("verify_face_id", verifyId) && !verifyId.empty()) {
        snapshot->VerifyId = verifyId;
        snapshot->VerifyTime = Now();
        LogSnapshotLine(kSnapshotLineLong, "Process face snapshot: %s, %d, %" PRId64 " @6====",
                        LogSafe(verifyId).c_str(), snapshot->FaceID, Now());
        EndVerify(ticket, snapshot);  // the last step: the table owns the snapshot from here on
        return true;
      }
    }
  } catch (...) {
    EndVerify(ticket, nullptr);
    throw;
  }
  EndVerify(ticket, nullptr);
  LogSnapshotLine(kSnapshotLineShort, "Process face snapshot: %d, %" PRId64 " @7====",
                  snapshot->FaceID, Now());
  return false;
}

uint64_t FRSClient::BeginVerify() {
  platform::ScopedLock guard(pendingLock);
  const uint64_t ticket = nextVerifyTicket_++;
  verifiesInFlight_.insert(ticket);
  return ticket;
}

void FRSClient::EndVerify(uint64_t ticket, FaceSnapshot* verified) {
  const std::string verifiedId = verified != nullptr ? verified->VerifyId : std::string();
  std::vector<FaceSnapshot*> displaced;
  std::vector<Match> matched;
  {
    platform::ScopedLock guard(pendingLock);
    verifiesInFlight_.erase(ticket);
    if (verified != nullptr) InsertPendingLocked(verified, &displaced);
    RecheckHeldLocked(&matched);
    metrics::FacePending(pending.size());
  }
  // verified may be another worker's already: only its id, copied before, is used here.
  CLogHelper* log = CLogHelper::GetInstance();
  for (FaceSnapshot* given : displaced) {
    if (given->VerifyId == verifiedId) {
      log->LogInfoF("Verify id %s is already pending: snapshot %d written without identification",
                    LogSafe(given->VerifyId).c_str(), given->FaceID);
    } else {
      log->LogInfoF("Too many snapshots wait for their result: snapshot %d written without "
                    "identification",
                    given->FaceID);
    }
    DeliverUnidentified(given);
  }
  for (Match& match : matched) Complete(std::move(match));
}

// The table holds one snapshot per verify id: an older one under the same id, or the oldest
// one when the table is full, is written unidentified at once rather than dropped.
void FRSClient::InsertPendingLocked(FaceSnapshot* snapshot, std::vector<FaceSnapshot*>* displaced) {
  auto same = pending.find(snapshot->VerifyId);
  if (same != pending.end()) {
    displaced->push_back(same->second);
    pending.erase(same);
  } else if (pending.size() >= kMaxPending) {
    auto oldest = pending.begin();
    for (auto it = pending.begin(); it != pending.end(); ++it) {
      if (it->second->VerifyTime < oldest->second->VerifyTime) oldest = it;
    }
    displaced->push_back(oldest->second);
    pending.erase(oldest);
  }
  pending[snapshot->VerifyId] = snapshot;
}

std::unique_ptr<FaceSnapshot> FRSClient::TakePendingLocked(const std::string& verifyId) {
  auto found = pending.find(verifyId);
  if (found == pending.end()) return nullptr;
  std::unique_ptr<FaceSnapshot> snapshot(found->second);
  pending.erase(found);
  metrics::FacePending(pending.size());
  return snapshot;
}

void FRSClient::RecheckHeldLocked(std::vector<Match>* matched) {
  for (auto it = heldResults_.begin(); it != heldResults_.end();) {
    std::unique_ptr<FaceSnapshot> snapshot = TakePendingLocked(it->result->verifyId);
    if (snapshot != nullptr) {
      matched->emplace_back(std::move(snapshot), std::move(it->result));
    } else if (!verifiesInFlight_.empty() && *verifiesInFlight_.begin() <= it->lastTicket) {
      ++it;
      continue;
    }
    it = heldResults_.erase(it);  // matched, or every verify it waited for ended without it
  }
}

bool FRSClient::Logout(Worker& worker) {
  neb::CJsonObject request;
  request.Add("sessionId", worker.sessionId);
  return Post(worker, "/users/logout", request.ToString(), kJson).Ok();
}

// The stream has stopped and the workers have ended: results that arrived are matched first,
// so that a snapshot whose identity came in time is written with it.
void FRSClient::DeliverUnfinished() {
  while (HandleOneResult()) {
  }
  std::vector<Match> matched;
  std::map<std::string, FaceSnapshot*> left;
  {
    platform::ScopedLock guard(pendingLock);
    verifiesInFlight_.clear();  // none can be: the workers have ended
    RecheckHeldLocked(&matched);
    left.swap(pending);
    metrics::FacePending(0);
  }
  for (Match& match : matched) Complete(std::move(match));
  if (!left.empty()) {
    CLogHelper::GetInstance()->LogInfoF(
        "Face client stopped with %zu snapshots waiting for their result; they are written "
        "without identification",
        left.size());
  }
  for (auto& entry : left) DeliverUnidentified(entry.second);
}
