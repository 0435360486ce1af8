// One WebSocket connection of the FRS event stream and its connection attempts, over ws:// or,
// when the site asks for TLS, wss:// with the service's certificate and host name verified.
// The supervisor thread calls Tick every period; each attempt runs on a connection thread of
// its own, which runs the library's I/O loop, the handlers and the decoding of messages.
// lock guards attempt_ (endpoint and connection), status, stopping_, connectionThread and the
// up/down record between the supervisor, the connection thread and the stream's Stop.
// The WebSocket library stays inside the .cpp.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/CriticalSection.h"
#include "platform/Thread.h"

class EventStream;

namespace FRSWebSocketClient {

enum Status { Disconnected = 0, Open = 1, Closing = 2, Closed = 3 };

class WebSocketClient {
 public:
  // A heartbeat whose pong has not come within this time closes the connection.
  static constexpr int kPongTimeoutMs = 10000;
  // A larger message is dropped; the library then closes the connection (code 1009).
  static constexpr std::size_t kMaxMessageBytes = 1024 * 1024;

  WebSocketClient(EventStream* owner, const char* path, int pongTimeoutMs = kPongTimeoutMs);
  // REQUIRES: no connection thread is running (Close and WaitForConnectionThread first).
  ~WebSocketClient();
  WebSocketClient(const WebSocketClient&) = delete;
  WebSocketClient& operator=(const WebSocketClient&) = delete;

  // Before the first Tick. caFile empty: the system's trust store.
  void SetServer(const char* serverHost, int serverPort, bool tls = false,
                 const std::string& caFile = std::string());

  // Supervisor thread: pings an open connection and leaves an attempt in progress alone. Once
  // the attempt's thread has ended, whatever state it left, it starts a new attempt.
  void Tick();
  // Marks the connection as closing and closes the session (or ends an attempt that is not
  // open), so that the I/O loop and with it the connection thread end by themselves.
  void Close();
  // Owner's stop: no attempt starts any more, nothing is reported down, then Close.
  void Shutdown();
  // True when the latest connection thread has ended within timeoutMs (or there is none).
  bool WaitForConnectionThread(int timeoutMs);
  // Stops the I/O loop of the current attempt at once, closing its socket.
  void StopIo();

  int GetStatus();
  const char* Path() const { return path; }
  // The URI of the attempts: "ws://HOST:PORT/PATH" (wss:// with TLS), at most 255 characters.
  std::string Uri() const;

 private:
  struct Attempt;
  template <class Config>
  struct AttemptOf;

  static unsigned ConnectionEntry(void* client);
  unsigned RunConnection();
  template <class Config>
  unsigned Connect();
  void SetStatus(int newStatus);
  void SetStatusLocked(int newStatus);  // REQUIRES: lock held
  void OnOpen();
  void OnFail(const std::string& reason);
  void OnClose(const std::string& reason);
  void OnMessage(const std::string& payload);
  // One ERROR line when the connection goes down, or stays down for another reason.
  void ReportDown(const std::string& reason);

  // Guarded by lock.
  std::unique_ptr<platform::Thread> connectionThread;
  std::unique_ptr<Attempt> attempt_;  // endpoint and connection of the latest attempt
  platform::CriticalSection lock;
  int status = Disconnected;
  bool stopping_ = false;
  bool down_ = false;       // reported down and not open since
  std::string downReason_;  // the reason of that report

  // Constant after SetServer.
  EventStream* const owner;
  const char* const path;
  const int pongTimeoutMs_;
  char host[100] = {};
  int port = 0;
  bool tls_ = false;
  std::string caFile_;
};

}  // namespace FRSWebSocketClient
