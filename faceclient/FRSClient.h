// The client of the FRS service (type 0). Over HTTP each worker logs in, posts a picture for
// verification and logs out; the service answers only with a verify id. The identity arrives
// later on the event stream, tagged with that id: the snapshot waits in the pending table until
// its result comes, or is given up after 3 seconds. Every worker matches results and gives up
// expired snapshots, so the table is shared.
//
// A result may come on the stream before the worker that made the verify has put the snapshot
// into the table. So each verify holds a ticket from its request until its snapshot is in the
// table (or it failed); a result that finds no snapshot is held while a verify that began
// before it came is still in flight, and looked up again as each one ends.
//
// Threads: PushVerifyResult on the stream's connection threads; OnStart and OnStop inside the
// base's Start and Stop; everything else on the workers (DeliverUnfinished on the stopping
// thread once the workers have ended). resultLock guards results, resultBytes_ and the setting
// and resetting of verifiedEvent. pendingLock guards pending, verifiesInFlight_,
// nextVerifyTicket_ and heldResults_. The two are never held together; no request, no log call
// and no hand-over runs under either.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "faceclient/EventStream.h"
#include "faceclient/VFRClient.h"
#include "faceclient/VerifyResult.h"

class FRSClient : public VFRClient, public VerifyResultSink {
 public:
  static constexpr int64_t kExpirySeconds = 3;
  // Snapshots waiting for their result; beyond that the oldest is given up at once.
  static constexpr std::size_t kMaxPending = 1000;
  // Results waiting for a worker (and, apart, results held for a verify in flight), by count
  // and by the memory they hold; beyond either a new one is dropped (its snapshot is given up
  // when it expires).
  static constexpr std::size_t kMaxResults = 1000;
  static constexpr std::size_t kMaxResultBytes = 8 * 1024 * 1024;

  FRSClient();
  ~FRSClient() override;

  void PushVerifyResult(VerifyResult* result) override;

  // The event stream's tick period; tests shorten it. Set before Start.
  void SetStreamTickPeriod(int ms) { streamTickPeriodMs_ = ms; }

 protected:
  void OnStart() override;
  void OnStop() override;
  unsigned Run(Worker& worker) override;
  void DeliverUnfinished() override;

 private:
  // A result that came before the snapshot of its verify id was in the table: it waits while a
  // verify with a ticket up to lastTicket is in flight.
  struct HeldResult {
    std::unique_ptr<VerifyResult> result;
    uint64_t lastTicket;
  };
  // A pending snapshot and the result that completes it.
  using Match = std::pair<std::unique_ptr<FaceSnapshot>, std::unique_ptr<VerifyResult>>;

  // One turn of the worker loop for what woke it (1 a result, 2 a snapshot, else a tick).
  void HandleWakeUp(Worker& worker, int signalled);
  // Matches the oldest waiting result; false when none was waiting.
  bool HandleOneResult();
  // The per-snapshot step: login, verify, logout. The snapshot ends pending or delivered, also
  // when a step throws.
  void ProcessSnapshot(Worker& worker, FaceSnapshot* snapshot) override;
  bool Login(Worker& worker);
  // True when the snapshot now waits in the pending table; otherwise it is still the caller's.
  bool Verify(Worker& worker, FaceSnapshot* snapshot);
  bool Logout(Worker& worker);
  void ExpirePending();

  // Under pendingLock: a ticket for a verify that begins.
  uint64_t BeginVerify();
  // The verify of the ticket has ended: its snapshot (null when it failed) goes into the table,
  // and held results are looked up again.
  void EndVerify(uint64_t ticket, FaceSnapshot* verified);
  // Under pendingLock: puts the snapshot into the table; a snapshot it displaces (same verify
  // id, or the oldest when the table is full) is added to *displaced.
  void InsertPendingLocked(FaceSnapshot* snapshot, std::vector<FaceSnapshot*>* displaced);
  // Under pendingLock: the pending snapshot of the verify id, taken out of the table, or null.
  std::unique_ptr<FaceSnapshot> TakePendingLocked(const std::string& verifyId);
  // Under pendingLock: held results that now find their snapshot go to *matched; those whose
  // verifies have all ended without it are deleted.
  void RecheckHeldLocked(std::vector<Match>* matched);
  // Fills the snapshot from its result and hands it over.
  void Complete(Match match);

  std::unique_ptr<platform::Event> verifiedEvent;
  platform::CriticalSection resultLock;
  std::list<VerifyResult*> results;  // guarded by resultLock
  std::size_t resultBytes_ = 0;      // guarded by resultLock

  platform::CriticalSection pendingLock;
  std::map<std::string, FaceSnapshot*> pending;  // guarded by pendingLock
  std::set<uint64_t> verifiesInFlight_;          // guarded by pendingLock
  uint64_t nextVerifyTicket_ = 1;                // guarded by pendingLock
  std::list<HeldResult> heldResults_;            // guarded by pendingLock

  std::unique_ptr<EventStream> eventStream;
  std::unique_ptr<platform::Event> streamStopEvent;
  int streamTickPeriodMs_ = EventStream::kTickPeriodMs;
};
