#include "faceclient/VFRClient.h"

#include "support/StageWatch.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <vector>

#include "metrics/Metrics.h"
#include "platform/DebugOutput.h"
#include "platform/MessageLoop.h"
#include "support/JsonObject.h"
#include "support/LogHelper.h"

namespace {

constexpr int kWorkerWaitMs = 10;
constexpr int kStopWaitSliceMs = 100;
constexpr uint64_t kOverflowLogEvery = 100;

}  // namespace

VFRClient::VFRClient() : clock_([] { return static_cast<int64_t>(std::time(nullptr)); }) {}

VFRClient::~VFRClient() {
  if (stopEvent != nullptr) stopEvent->Set();
  for (auto& worker : workers_) {
    if (worker->http != nullptr) worker->http->Cancel();
  }
  workers_.clear();  // joins workers that Stop did not wait for
  for (FaceSnapshot* snapshot : queue) delete snapshot;
}

void VFRClient::Init(const FaceServiceConfig* serviceConfig) { config = serviceConfig; }

int VFRClient::Start(const EventSink& sink, int workers) {
  sink_ = &sink;
  queueEvent = std::make_unique<platform::Event>(true, false);
  stopEvent = std::make_unique<platform::Event>(true, false);
  for (int number = 1; number <= std::max(workers, 1); ++number) {
    auto worker = std::make_unique<Worker>();
    worker->client = this;
    worker->number = number;
    if (config != nullptr) {
      worker->http = std::make_unique<ServiceHttp>(*config, requestDeadlineMs_);
    }
    worker->thread = std::make_unique<platform::Thread>(
        "face-worker-" + std::to_string(number), &VFRClient::WorkerEntry, worker.get(),
        platform::Thread::Priority::AboveNormal);
    workers_.push_back(std::move(worker));
  }
  OnStart();
  for (auto& worker : workers_) worker->thread->Resume();
  return 1;
}

unsigned VFRClient::WorkerEntry(void* worker) {
  if (worker == nullptr) return 1;
  Worker& self = *static_cast<Worker*>(worker);
  try {
    self.watched = std::make_unique<StageWatch::Slot>(
        StageWatch::Default(), "face-worker-" + std::to_string(self.number), kStuckAfterMs);
    return self.client->Run(self);
  } catch (const std::exception& e) {
    platform::DebugOutput(std::string("Face client worker ended by an exception: ") + e.what());
  } catch (...) {
    platform::DebugOutput("Face client worker ended by an exception");
  }
  return 1;
}

void VFRClient::PushSnapshot(FaceSnapshot* snapshot) {
  if (snapshot == nullptr) return;
  snapshot->QueuedAtNs = metrics::SteadyNowNs();
  uint64_t overflows = 0;  // stays 0 when the client is stopped (or not started)
  {
    platform::ScopedLock guard(queueLock);
    if (!stopped_ && queueEvent != nullptr && queue.size() < kMaxQueuedSnapshots) {
      queue.push_back(snapshot);
      metrics::FaceQueueDepth(queue.size());
      queueEvent->Set();
      return;
    }
    if (!stopped_ && queueEvent != nullptr) overflows = ++overflowCount_;
  }
  WriteDirectly(snapshot, overflows);
}

void VFRClient::WriteDirectly(FaceSnapshot* snapshot, uint64_t overflows) {
  CLogHelper* log = CLogHelper::GetInstance();
  if (overflows > 0) {
    const uint64_t count = overflows;
    if (count == 1 || count % kOverflowLogEvery == 0) {
      log->LogInfoF("Face client queue full (%zu snapshots waiting): snapshot %d written without "
                    "identification (%llu so far)",
                    kMaxQueuedSnapshots, snapshot->FaceID, static_cast<unsigned long long>(count));
    }
  } else {
    log->LogInfoF("Face client stopped: snapshot %d written without identification",
                  snapshot->FaceID);
  }
  DeliverUnidentified(snapshot);
}

void VFRClient::Stop() {
  if (stopEvent != nullptr) stopEvent->Set();
  for (auto& worker : workers_) {
    if (worker->http != nullptr) worker->http->Cancel();
  }
  OnStop();
  for (auto& worker : workers_) {
    while (!worker->thread->Join(kStopWaitSliceMs)) {
      if (platform::MessageLoop* loop = platform::MessageLoop::Main()) loop->PumpOne();
    }
  }
  // The workers have ended: nothing they held or that waited for them may be lost.
  DeliverUnfinished();
  std::list<FaceSnapshot*> left;
  {
    platform::ScopedLock guard(queueLock);
    stopped_ = true;
    left.swap(queue);
    if (queueEvent != nullptr) queueEvent->Reset();
  }
  if (!left.empty()) {
    CLogHelper::GetInstance()->LogInfoF(
        "Face client stopped with %zu queued snapshots; they are written without identification",
        left.size());
  }
  for (FaceSnapshot* snapshot : left) DeliverUnidentified(snapshot);
}

unsigned VFRClient::RunStandardLoop(Worker& worker) {
  for (;;) {
    const int signalled = platform::WaitForAny({stopEvent.get(), queueEvent.get()}, kWorkerWaitMs);
    if (signalled == 0) return 0;
    if (signalled != 1) continue;
    platform::DebugOutput("====Event triggered====");
    FaceSnapshot* snapshot = TakeQueuedSnapshot();
    if (snapshot == nullptr) continue;
    StageWatch::Item item(worker.watched.get());
    try {
      ProcessSnapshot(worker, snapshot);
    } catch (const std::exception& e) {
      // The snapshot still gets its event file, without identification.
      platform::DebugOutput(std::string("Face client request failed: ") + e.what());
      snapshot->VerifyId.clear();
      snapshot->PersonId.clear();
      snapshot->GroupId = kGroupNoAnswer;
    }
    Deliver(snapshot);
  }
}

FaceSnapshot* VFRClient::TakeQueuedSnapshot() {
  platform::ScopedLock guard(queueLock);
  FaceSnapshot* snapshot = nullptr;
  if (!queue.empty()) {
    snapshot = queue.front();
    queue.pop_front();
  }
  metrics::FaceQueueDepth(queue.size());
  if (queue.empty()) queueEvent->Reset();
  return snapshot;
}

void VFRClient::HandOver(const FaceSnapshot& snapshot) {
  metrics::FaceDone(snapshot.GroupId, snapshot.QueuedAtNs);
  if (sink_ != nullptr) sink_->WriteEventFile(snapshot);
}

void VFRClient::Deliver(FaceSnapshot* snapshot) {
  std::unique_ptr<FaceSnapshot> owned(snapshot);
  HandOver(*owned);
}

void VFRClient::DeliverUnidentified(FaceSnapshot* snapshot) {
  snapshot->VerifyId.clear();
  snapshot->PersonId.clear();
  snapshot->GroupId = kGroupNoAnswer;
  Deliver(snapshot);
}

ServiceAnswer VFRClient::Post(Worker& worker, const std::string& path, const std::string& body,
                              const char* contentType) {
  if (worker.http == nullptr) return ServiceAnswer();
  return worker.http->Post(path, body, contentType);
}

ServiceAnswer VFRClient::PostLogin(Worker& worker, const std::string& path) {
  neb::CJsonObject request;
  request.Add("username", config->UserName);
  request.Add("password", config->Password);
  ServiceAnswer answer = Post(worker, path, request.ToString(), "application/json");
  if (answer.Ok()) neb::CJsonObject(answer.body).Get("sessionId", worker.sessionId);
  return answer;
}
