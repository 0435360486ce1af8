// The client of the FRS service (type 0). Over HTTP it logs in, posts each picture for
// verification and logs out; the service answers only with a verify id. The identity arrives
// later on the event stream, tagged with that id: the snapshot waits in the pending table until
// its result comes, or is given up after 3 seconds.
// Threads: PushVerifyResult on the stream's connection threads; OnStart and OnStop inside the
// base's Start and Stop; everything else on the worker (DeliverUnfinished on the stopping
// thread once the worker has ended). resultLock guards results, resultBytes_ and the setting
// and resetting of verifiedEvent; pending and sessionId belong to the worker.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <string>

#include "faceclient/EventStream.h"
#include "faceclient/VFRClient.h"
#include "faceclient/VerifyResult.h"

class FRSClient : public VFRClient, public VerifyResultSink {
 public:
  static constexpr int64_t kExpirySeconds = 3;
  // Snapshots waiting for their result; beyond that the oldest is given up at once.
  static constexpr std::size_t kMaxPending = 1000;
  // Results waiting for the worker, by count and by the memory they hold; beyond either a new
  // one is dropped (its snapshot is given up when it expires).
  static constexpr std::size_t kMaxResults = 1000;
  static constexpr std::size_t kMaxResultBytes = 8 * 1024 * 1024;

  FRSClient();
  ~FRSClient() override;

  void PushVerifyResult(VerifyResult* result) override;
  bool Login();
  // True when the snapshot now waits in the pending table; otherwise it is still the caller's.
  bool Verify(FaceSnapshot* snapshot);
  bool Logout();

  // The event stream's tick period; tests shorten it. Set before Start.
  void SetStreamTickPeriod(int ms) { streamTickPeriodMs_ = ms; }

 protected:
  void OnStart() override;
  void OnStop() override;
  unsigned Run() override;
  void DeliverUnfinished() override;

 private:
  // One turn of the worker loop for what woke it (1 a result, 2 a snapshot, else a tick).
  void HandleWakeUp(int signalled);
  // Matches the oldest waiting result; false when none was waiting.
  bool HandleOneResult();
  // The per-snapshot step: login, verify, logout. The snapshot ends pending or delivered, also
  // when a step throws.
  void ProcessSnapshot(FaceSnapshot* snapshot) override;
  void ExpirePending();
  void AddPending(FaceSnapshot* snapshot);

  std::unique_ptr<platform::Event> verifiedEvent;
  std::map<std::string, FaceSnapshot*> pending;  // worker only
  std::list<VerifyResult*> results;              // guarded by resultLock
  std::size_t resultBytes_ = 0;                  // guarded by resultLock
  std::string sessionId;                         // worker only
  platform::CriticalSection resultLock;
  std::unique_ptr<EventStream> eventStream;
  std::unique_ptr<platform::Event> streamStopEvent;
  int streamTickPeriodMs_ = EventStream::kTickPeriodMs;
};
