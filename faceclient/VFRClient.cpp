#include "faceclient/VFRClient.h"

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
  if (http != nullptr) http->Cancel();
  workerThread.reset();  // joins a worker that Stop did not wait for
  for (FaceSnapshot* snapshot : queue) delete snapshot;
}

void VFRClient::Init(const FaceServiceConfig* serviceConfig) {
  config = serviceConfig;
  if (config == nullptr) return;
  http = std::make_unique<ServiceHttp>(*config, requestDeadlineMs_);
}

int VFRClient::Start(void* resultOwner, FaceResultCallback callback) {
  owner = resultOwner;
  resultCallback = callback;
  queueEvent = std::make_unique<platform::Event>(true, false);
  stopEvent = std::make_unique<platform::Event>(true, false);
  workerThread = std::make_unique<platform::Thread>("face-worker", &VFRClient::WorkerEntry, this,
                                                    platform::Thread::Priority::AboveNormal);
  OnStart();
  workerThread->Resume();
  return 1;
}

unsigned VFRClient::WorkerEntry(void* client) {
  if (client == nullptr) return 1;
  try {
    return static_cast<VFRClient*>(client)->Run();
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
  if (http != nullptr) http->Cancel();
  OnStop();
  if (workerThread != nullptr) {
    while (!workerThread->Join(kStopWaitSliceMs)) {
      if (platform::MessageLoop* loop = platform::MessageLoop::Main()) loop->PumpOne();
    }
  }
  // The worker has ended: nothing it held or that waited for it may be lost.
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

unsigned VFRClient::RunStandardLoop() {
  for (;;) {
    const int signalled = platform::WaitForAny({stopEvent.get(), queueEvent.get()}, kWorkerWaitMs);
    if (signalled == 0) return 0;
    if (signalled != 1) continue;
    platform::DebugOutput("====Event triggered====");
    FaceSnapshot* snapshot = TakeQueuedSnapshot();
    if (snapshot == nullptr) continue;
    try {
      ProcessSnapshot(snapshot);
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

void VFRClient::Deliver(FaceSnapshot* snapshot) {
  std::unique_ptr<FaceSnapshot> owned(snapshot);
  if (resultCallback != nullptr) resultCallback(owner, owned.get());
}

void VFRClient::DeliverUnidentified(FaceSnapshot* snapshot) {
  snapshot->VerifyId.clear();
  snapshot->PersonId.clear();
  snapshot->GroupId = kGroupNoAnswer;
  Deliver(snapshot);
}

ServiceAnswer VFRClient::Post(const std::string& path, const std::string& body,
                              const char* contentType) {
  if (http == nullptr) return ServiceAnswer();
  return http->Post(path, body, contentType);
}

ServiceAnswer VFRClient::PostLogin(const std::string& path, std::string* sessionId) {
  neb::CJsonObject request;
  request.Add("username", config->UserName);
  request.Add("password", config->Password);
  ServiceAnswer answer = Post(path, request.ToString(), "application/json");
  if (answer.Ok()) neb::CJsonObject(answer.body).Get("sessionId", *sessionId);
  return answer;
}
