// The client of the FRS service (type 0). Over HTTP it logs in, posts each picture for
// verification and logs out; the service answers only with a verify id. The identity arrives
// later on the event stream, tagged with that id: the snapshot waits in the pending table until
// its result comes, or is given up after 3 seconds.
// Threads: PushVerifyResult on the stream's connection threads; OnStart and OnStop inside the
// base's Start and Stop; everything else on the worker. resultLock guards results and the
// setting and resetting of verifiedEvent; pending and sessionId belong to the worker.
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
  // Results waiting for the worker; beyond that a new one is dropped.
  static constexpr std::size_t kMaxResults = 1000;

  FRSClient();
  ~FRSClient() override;

  void PushVerifyResult(VerifyResult* result) override;
  bool Login();
  void Verify(FaceSnapshot* snapshot);
  bool Logout();

  // The event stream's tick period; tests shorten it. Set before Start.
  void SetStreamTickPeriod(int ms) { streamTickPeriodMs_ = ms; }

 protected:
  void OnStart() override;
  void OnStop() override;
  unsigned Run() override;
  void DeliverUnfinished() override;

 private:
  void HandleOneResult();
  void ProcessQueuedSnapshot();
  void ExpirePending();
  void AddPending(FaceSnapshot* snapshot);

  std::unique_ptr<platform::Event> verifiedEvent;
  std::map<std::string, FaceSnapshot*> pending;  // worker only
  std::list<VerifyResult*> results;              // guarded by resultLock
  std::string sessionId;                         // worker only
  platform::CriticalSection resultLock;
  std::unique_ptr<EventStream> eventStream;
  std::unique_ptr<platform::Event> streamStopEvent;
  int streamTickPeriodMs_ = EventStream::kTickPeriodMs;
};
