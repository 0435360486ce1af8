// The face client base: worker threads that ask the face recognition service about the queued
// snapshots and hand every finished snapshot straight to the event writer (an EventSink). What
// the three clients share lives here once: the workers, each with its own HTTP client bound to
// the service (ServiceHttp) and its own session; the one bounded snapshot queue that they all
// take from; the stop path that writes out whatever is left; the seconds clock of the log lines.
// One worker asks about one snapshot at a time, in arrival order. With several, each takes the
// oldest waiting snapshot and does for it exactly what the one worker does, so snapshots are
// taken in arrival order but may be finished, and their files written, out of it.
//
// Threads: PushSnapshot runs on the thread that delivers alarms; Init and Start on the main
// thread (or the alarm thread, for a client the intake creates); Stop on the main thread; Run,
// every request and every hand-over to the event writer on the workers ("face-worker-N");
// Stop cancels every worker's request in flight through its ServiceHttp. queueLock guards
// queue, stopped_, overflowCount_ and the setting and resetting of queueEvent; no request, no
// log call and no hand-over runs under it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "config/FaceServiceConfig.h"
#include "faceclient/ServiceHttp.h"
#include "pipeline/EventSink.h"
#include "pipeline/FaceClientSlot.h"
#include "platform/CmdTarget.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "support/StageWatch.h"
#include "records/FaceSnapshot.h"

class VFRClient : public CCmdTarget, public SnapshotConsumer {
 public:
  // Snapshots waiting for a worker; a snapshot beyond that is written unidentified at once.
  static constexpr std::size_t kMaxQueuedSnapshots = 1000;
  // A snapshot's requests (at most a few, each ended at its deadline) are done well within
  // this; past it the worker is stuck.
  static constexpr int64_t kStuckAfterMs = 60000;
  using Clock = std::function<int64_t()>;  // seconds since 1970

  VFRClient();
  ~VFRClient() override;  // Stop must have been called when the workers were started

  // Keeps the record, which must outlive the client; each worker's HTTP client is bound to its
  // address (see ServiceHttp: 3 s connection time-out, 1 MiB answers, 10 s per request, TLS
  // when the record asks).
  void Init(const FaceServiceConfig* config);
  // Starts the workers (at least one); every finished snapshot goes to sink, which must outlive
  // the client. Returns 1.
  int Start(const EventSink& sink, int workers = 1);
  // Takes ownership of the snapshot; never waits for the service.
  void PushSnapshot(FaceSnapshot* snapshot) override;
  // Cancels every request in flight, ends the workers (serving main-thread messages while it
  // waits), then writes every snapshot they did not finish without identification.
  void Stop();

  // The clock of the log lines and of expiry; tests move it. Set before Start.
  void SetClock(Clock clock) { clock_ = std::move(clock); }
  // The total time of one request; tests shorten it. Set before Start.
  void SetRequestDeadline(int ms) { requestDeadlineMs_ = ms; }

 protected:
  // One worker: its thread, its own connection to the service and the session of the services
  // that log in (kept between its snapshots). Used by its own thread only, but for the Cancel
  // of its http by Stop.
  struct Worker {
    VFRClient* client = nullptr;
    int number = 0;  // from 1, as in the thread's name
    std::unique_ptr<ServiceHttp> http;
    std::string sessionId;
    std::unique_ptr<StageWatch::Slot> watched;  // made by the thread itself
    std::unique_ptr<platform::Thread> thread;  // last: it ends before the http that it uses
  };

  virtual void OnStart() {}
  virtual void OnStop() {}
  virtual unsigned Run(Worker& worker) = 0;
  // Called by Stop once every worker has ended: deliver whatever the client still holds.
  virtual void DeliverUnfinished() {}

  // The standard worker loop: waits 10 ms on (stopEvent, queueEvent) and processes one
  // snapshot per wake-up with ProcessSnapshot, then delivers it.
  unsigned RunStandardLoop(Worker& worker);
  virtual void ProcessSnapshot(Worker& /*worker*/, FaceSnapshot* /*snapshot*/) {}

  // Removes the head of the queue (null when empty) and resets queueEvent when it empties.
  FaceSnapshot* TakeQueuedSnapshot();
  // Counts the finished snapshot and hands it to the event writer; the snapshot stays the
  // caller's.
  void HandOver(const FaceSnapshot& snapshot);
  // Hands the snapshot over, then destroys it.
  void Deliver(FaceSnapshot* snapshot);
  // Marks the snapshot as given up without a usable answer (-3, no person) and delivers it.
  void DeliverUnidentified(FaceSnapshot* snapshot);

  // Posts the body to the service over the worker's connection; contentType null sends no
  // content type.
  ServiceAnswer Post(Worker& worker, const std::string& path, const std::string& body,
                     const char* contentType);
  // The login of the services that have sessions: the configured user name and password as
  // JSON; when answered (Ok), the answer's "sessionId" (if any) becomes the worker's session.
  ServiceAnswer PostLogin(Worker& worker, const std::string& path);

  int64_t Now() const { return clock_(); }

  // Constant after Start.
  std::unique_ptr<platform::Event> queueEvent;
  std::unique_ptr<platform::Event> stopEvent;
  const EventSink* sink_ = nullptr;
  const FaceServiceConfig* config = nullptr;
  std::vector<std::unique_ptr<Worker>> workers_;

  // Guarded by queueLock.
  platform::CriticalSection queueLock;
  std::list<FaceSnapshot*> queue;

 private:
  static unsigned WorkerEntry(void* worker);
  // Writes a snapshot that cannot be queued at once: overflows counts the full-queue cases so
  // far, 0 when the client is stopped.
  void WriteDirectly(FaceSnapshot* snapshot, uint64_t overflows);

  Clock clock_;
  int requestDeadlineMs_ = ServiceHttp::kRequestDeadlineMs;
  bool stopped_ = false;        // guarded by queueLock: set once Stop has emptied the queue
  uint64_t overflowCount_ = 0;  // guarded by queueLock
};
