// The FRS server's push channel: two WebSocket connections to the service, one for recognised
// and one for non-recognised faces. A supervisor thread ticks both every period (15 s): an open
// connection gets a "heartbeat" ping, a failed or closed one a new attempt; a ping without its
// pong closes the connection, so a half-open one is retried too. Every message is decoded into
// a VerifyResult and handed to the owner.
// Start and Stop run on the thread that owns the stream (the FRS client's start and stop);
// OnMessage runs on the connection threads. The clients exist from Start to Stop and are
// touched by the supervisor only between the two.
#pragma once

#include <memory>
#include <string>

#include "faceclient/VerifyResult.h"
#include "faceclient/WebSocketClient.h"
#include "platform/Event.h"
#include "platform/Thread.h"

class EventStream {
 public:
  static constexpr int kTickPeriodMs = 15000;

  // stopEvent (manual reset, not signalled) belongs to the caller and outlives the stream.
  EventStream(const char* recognizedPath, const char* unrecognizedPath,
              platform::Event* stopEvent, VerifyResultSink* owner,
              int tickPeriodMs = kTickPeriodMs,
              int pongTimeoutMs = FRSWebSocketClient::WebSocketClient::kPongTimeoutMs);
  ~EventStream();  // stops
  EventStream(const EventStream&) = delete;
  EventStream& operator=(const EventStream&) = delete;

  // 0, or -1 when the supervisor thread cannot be started. With tls the connections use wss://
  // and verify the service against caFile, or the system's trust store when it is empty.
  int Start(const char* host, int port, bool tls = false,
            const std::string& caFile = std::string());
  // Ends the supervisor and both connections, and waits for every thread of the stream.
  void Stop();

  void OnMessage(FRSWebSocketClient::WebSocketClient* client, const std::string& payload);

  // For tests: the status of each connection.
  int RecognizedStatus();
  int UnrecognizedStatus();

 private:
  static unsigned SupervisorEntry(void* stream);
  void Supervise();
  void HandleRecognized(const std::string& payload);
  void HandleUnrecognized(const std::string& payload);

  // Constant after construction.
  const char* const recognizedPath;
  const char* const unrecognizedPath;
  platform::Event* const stopEvent;
  VerifyResultSink* const owner;
  const int tickPeriodMs_;
  const int pongTimeoutMs_;

  // Owner thread only, between Start and Stop; the supervisor uses the clients.
  std::unique_ptr<platform::Thread> supervisorThread;
  std::unique_ptr<FRSWebSocketClient::WebSocketClient> recognizedClient;
  std::unique_ptr<FRSWebSocketClient::WebSocketClient> unrecognizedClient;
};
