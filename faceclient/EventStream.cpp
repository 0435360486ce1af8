#include "faceclient/EventStream.h"

#include <cinttypes>
#include <ctime>

#include "platform/DebugOutput.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"
#include "support/StringFormat.h"

namespace {

constexpr int kStopWaitMs = 1000;

int64_t NowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace

EventStream::EventStream(const char* recognized, const char* unrecognized, platform::Event* stop,
                         VerifyResultSink* resultOwner, int tickPeriodMs, int pongTimeoutMs)
    : recognizedPath(recognized),
      unrecognizedPath(unrecognized),
      stopEvent(stop),
      owner(resultOwner),
      tickPeriodMs_(tickPeriodMs),
      pongTimeoutMs_(pongTimeoutMs) {}

EventStream::~EventStream() { Stop(); }

int EventStream::Start(const char* host, int port, bool tls, const std::string& caFile) {
  Stop();
  recognizedClient = std::make_unique<FRSWebSocketClient::WebSocketClient>(this, recognizedPath,
                                                                           pongTimeoutMs_);
  unrecognizedClient = std::make_unique<FRSWebSocketClient::WebSocketClient>(
      this, unrecognizedPath, pongTimeoutMs_);
  recognizedClient->SetServer(host, port, tls, caFile);
  unrecognizedClient->SetServer(host, port, tls, caFile);
  supervisorThread =
      std::make_unique<platform::Thread>("ws-supervisor", &EventStream::SupervisorEntry, this);
  supervisorThread->Resume();
  return 0;
}

unsigned EventStream::SupervisorEntry(void* stream) {
  try {
    static_cast<EventStream*>(stream)->Supervise();
  } catch (...) {
    platform::DebugOutput("Event stream supervisor ended by an exception");
    return 1;
  }
  return 0;
}

void EventStream::Supervise() {
  do {
    recognizedClient->Tick();
    unrecognizedClient->Tick();
  } while (!stopEvent->Wait(tickPeriodMs_));
}

void EventStream::Stop() {
  if (supervisorThread != nullptr) {
    stopEvent->Set();
    if (!supervisorThread->Join(kStopWaitMs)) {
      platform::DebugOutput("Event stream supervisor is late to stop; waiting for it");
      supervisorThread->Join(platform::kInfinite);
    }
    supervisorThread.reset();
  }
  for (auto* client : {&recognizedClient, &unrecognizedClient}) {
    if (*client == nullptr) continue;
    (*client)->Shutdown();
    if (!(*client)->WaitForConnectionThread(kStopWaitMs)) {
      // Our threads cannot be killed: end the I/O loop, which lets the thread return.
      (*client)->StopIo();
      (*client)->WaitForConnectionThread(platform::kInfinite);
    }
    client->reset();
  }
}

int EventStream::RecognizedStatus() {
  return recognizedClient ? recognizedClient->GetStatus() : FRSWebSocketClient::Disconnected;
}

int EventStream::UnrecognizedStatus() {
  return unrecognizedClient ? unrecognizedClient->GetStatus() : FRSWebSocketClient::Disconnected;
}

void EventStream::OnMessage(FRSWebSocketClient::WebSocketClient* client,
                            const std::string& payload) {
  // By path, which is constant: Stop may be resetting the other client meanwhile.
  if (client == nullptr) return;
  if (client->Path() == recognizedPath) {
    HandleRecognized(payload);
  } else if (client->Path() == unrecognizedPath) {
    HandleUnrecognized(payload);
  }
}

void EventStream::HandleRecognized(const std::string& payload) {
  auto result = std::make_unique<VerifyResult>();
  if (!DecodeRecognizedMessage(payload, result.get())) return;
  platform::DebugOutput(StringFormat("====%s, %" PRId64 ", %d @4====", LogSafe(result->verifyId).c_str(),
                                     NowSeconds(), result->groupId));
  if (owner != nullptr) owner->PushVerifyResult(result.release());
}

void EventStream::HandleUnrecognized(const std::string& payload) {
  auto result = std::make_unique<VerifyResult>();
  if (!DecodeUnrecognizedMessage(payload, result.get())) return;
  platform::DebugOutput(
      StringFormat("====%s, %" PRId64 " @4====", LogSafe(result->verifyId).c_str(), NowSeconds()));
  if (owner != nullptr) owner->PushVerifyResult(result.release());
}
