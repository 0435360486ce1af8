// One WebSocket connection of the FRS event stream and its connection attempts. The supervisor
// thread calls Tick every period; each attempt runs on a connection thread of its own, which
// runs the library's I/O loop, the handlers and the decoding of messages. lock guards attempt_
// (endpoint and connection), status, stopping_ and connectionThread between the supervisor,
// the connection thread and the stream's Stop. The WebSocket library stays inside the .cpp.
#pragma once

#include <memory>
#include <string>

#include "platform/CriticalSection.h"
#include "platform/Thread.h"

class EventStream;

namespace FRSWebSocketClient {

enum Status { Disconnected = 0, Open = 1, Closing = 2, Closed = 3 };

class WebSocketClient {
 public:
  WebSocketClient(EventStream* owner, const char* path);
  // REQUIRES: no connection thread is running (Close and WaitForConnectionThread first).
  ~WebSocketClient();
  WebSocketClient(const WebSocketClient&) = delete;
  WebSocketClient& operator=(const WebSocketClient&) = delete;

  // Before the first Tick.
  void SetServer(const char* serverHost, int serverPort);

  // Supervisor thread: pings an open connection, leaves a closing one alone, and starts a new
  // attempt for a failed or closed one, unless the previous attempt's thread is still alive.
  void Tick();
  // Marks the connection as closing and closes the session, so that the I/O loop and with it
  // the connection thread end by themselves. The next tick after the close starts a new attempt.
  void Close();
  // Owner's stop: no attempt starts any more, then Close.
  void Shutdown();
  // True when the latest connection thread has ended within timeoutMs (or there is none).
  bool WaitForConnectionThread(int timeoutMs);
  // Stops the I/O loop of the current attempt at once, closing its socket.
  void StopIo();

  int GetStatus();
  const char* Path() const { return path; }
  // The URI of the attempts: "ws://HOST:PORT/PATH", at most 255 characters.
  std::string Uri() const;

 private:
  struct Attempt;

  static unsigned ConnectionEntry(void* client);
  unsigned RunConnection();
  unsigned Connect();
  void SetStatus(int newStatus);
  void OnOpen();
  void OnFail();
  void OnClose();
  void OnMessage(const std::string& payload);

  // Guarded by lock.
  std::unique_ptr<platform::Thread> connectionThread;
  std::unique_ptr<Attempt> attempt_;  // endpoint and connection of the latest attempt
  platform::CriticalSection lock;
  int status = Disconnected;
  bool stopping_ = false;

  // Constant after SetServer.
  EventStream* const owner;
  const char* const path;
  char host[100] = {};
  int port = 0;
};

}  // namespace FRSWebSocketClient
