// The face client base: a worker thread that asks the face recognition service about each
// queued snapshot, one at a time in arrival order, and hands every finished snapshot to the
// result callback (the event writer). What the three clients share lives here once: the HTTP
// client bound to the service, the worker, the bounded snapshot queue, the stop path that
// writes out whatever is left, and the seconds clock of their log lines. The worker loop, the
// queue and the per-snapshot step (ProcessSnapshot) are kept apart, and all a request needs is
// the worker's ServiceHttp, so that several workers could share the queue.
//
// Threads: PushSnapshot runs on the thread that delivers alarms; Init and Start on the main
// thread (or the alarm thread, for a client the intake creates); Stop on the main thread; Run,
// every request and every call of the result callback on the worker (Stop cancels the request
// in flight through ServiceHttp::Cancel). queueLock guards queue,
// stopped_, overflowCount_ and the setting and resetting of queueEvent; no request and no
// callback runs under it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "config/FaceServiceConfig.h"
#include "faceclient/ServiceHttp.h"
#include "pipeline/FaceClientSlot.h"
#include "pipeline/FaceSnapshot.h"
#include "platform/CmdTarget.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Thread.h"

// How a finished snapshot goes back to the event writer. The callback neither keeps nor frees
// the snapshot.
using FaceResultCallback = void (*)(void* owner, FaceSnapshot* snapshot);

class VFRClient : public CCmdTarget, public SnapshotConsumer {
 public:
  // Snapshots waiting for the worker; a snapshot beyond that is written unidentified at once.
  static constexpr std::size_t kMaxQueuedSnapshots = 1000;
  using Clock = std::function<int64_t()>;  // seconds since 1970

  VFRClient();
  ~VFRClient() override;  // Stop must have been called when the worker was started

  // Binds the HTTP client to the record's address (see ServiceHttp: 3 s connection time-out,
  // 1 MiB answers, 10 s per request, TLS when the record asks). The record must outlive the
  // client.
  void Init(const FaceServiceConfig* config);
  // Starts the worker; every finished snapshot goes to callback(owner, snapshot). Returns 1.
  int Start(void* owner, FaceResultCallback callback);
  // Takes ownership of the snapshot; never waits for the service.
  void PushSnapshot(FaceSnapshot* snapshot) override;
  // Cancels the request in flight, ends the worker (serving main-thread messages while it
  // waits), then writes every snapshot it did not finish without identification.
  void Stop();

  // The clock of the log lines and of expiry; tests move it. Set before Start.
  void SetClock(Clock clock) { clock_ = std::move(clock); }
  // The total time of one request; tests shorten it. Set before Init.
  void SetRequestDeadline(int ms) { requestDeadlineMs_ = ms; }

 protected:
  virtual void OnStart() {}
  virtual void OnStop() {}
  virtual unsigned Run() = 0;
  // Called by Stop once the worker has ended: deliver whatever the client still holds.
  virtual void DeliverUnfinished() {}

  // The standard worker loop: waits 10 ms on (stopEvent, queueEvent) and processes one
  // snapshot per wake-up with ProcessSnapshot, then delivers it.
  unsigned RunStandardLoop();
  virtual void ProcessSnapshot(FaceSnapshot* /*snapshot*/) {}

  // Removes the head of the queue (null when empty) and resets queueEvent when it empties.
  FaceSnapshot* TakeQueuedSnapshot();
  // Hands the snapshot to the result callback, then destroys it.
  void Deliver(FaceSnapshot* snapshot);
  // Marks the snapshot as given up without a usable answer (-3, no person) and delivers it.
  void DeliverUnidentified(FaceSnapshot* snapshot);

  // Posts the body to the service; contentType null sends no content type.
  ServiceAnswer Post(const std::string& path, const std::string& body, const char* contentType);
  // The login of the services that have sessions: the configured user name and password as
  // JSON; when answered (Ok), the answer's "sessionId" (if any) is stored in *sessionId.
  ServiceAnswer PostLogin(const std::string& path, std::string* sessionId);

  int64_t Now() const { return clock_(); }

  // Constant after Start.
  std::unique_ptr<platform::Thread> workerThread;
  std::unique_ptr<platform::Event> queueEvent;
  std::unique_ptr<platform::Event> stopEvent;
  void* owner = nullptr;
  FaceResultCallback resultCallback = nullptr;
  const FaceServiceConfig* config = nullptr;

  // Created by Init; Post on the worker only, Cancel from Stop.
  std::unique_ptr<ServiceHttp> http;

  // Guarded by queueLock.
  platform::CriticalSection queueLock;
  std::list<FaceSnapshot*> queue;

 private:
  static unsigned WorkerEntry(void* client);
  // Writes a snapshot that cannot be queued at once: overflows counts the full-queue cases so
  // far, 0 when the client is stopped.
  void WriteDirectly(FaceSnapshot* snapshot, uint64_t overflows);

  Clock clock_;
  int requestDeadlineMs_ = ServiceHttp::kRequestDeadlineMs;
  bool stopped_ = false;        // guarded by queueLock: set once Stop has emptied the queue
  uint64_t overflowCount_ = 0;  // guarded by queueLock
};
