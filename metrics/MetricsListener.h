// The metrics listener: an HTTP server on the configured address that answers GET /metrics
// (Prometheus text format 0.0.4) and GET /status (StatusPage.h); see MetricsRouter.h. It runs
// on one I/O thread ("metrics-io") with asynchronous sockets, so a slow or hostile client costs
// a socket and a small buffer, never a thread, and every request is bounded by the limits
// below. With a web configuration (WebConfig.h) it speaks TLS and/or asks for basic auth.
// Start and Stop run on the owner's thread (the main thread); everything else on the I/O
// thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {
class Thread;
}

namespace metrics {

// "IP:PORT" split into its parts; false when it is not of that form (port 1 to 65535).
bool ParseListenAddress(const std::string& text, std::string* ip, int* port);

class MetricsListener {
 public:
  // A request's line and headers; beyond: 431 and the connection closes.
  static constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
  // A request's body (a GET has none); beyond: 413 and the connection closes.
  static constexpr std::size_t kMaxRequestBody = 1024;
  // From the start of a request (or of the connection, TLS handshake included) to the last
  // byte of its answer; beyond: the connection closes.
  static constexpr int kRequestDeadlineSeconds = 5;
  // Connections at once; one more is closed as soon as it is accepted.
  static constexpr int kMaxConnections = 64;

  MetricsListener();
  ~MetricsListener();  // stops
  MetricsListener(const MetricsListener&) = delete;
  MetricsListener& operator=(const MetricsListener&) = delete;

  // Listens on "IP:PORT" (port 0: any free port), with the access control of the web
  // configuration file webConfigPath when it is not empty. False, with one ERROR line, when
  // the address is malformed or cannot be bound, or the web configuration is refused or its
  // certificate and key cannot be used; nothing runs then.
  bool Start(const std::string& listen, const std::string& webConfigPath = std::string());
  // The port listened on, once started.
  int Port() const { return port_; }
  void Stop();

 private:
  struct Server;
  static unsigned IoEntry(void* server);

  std::unique_ptr<Server> server_;
  std::unique_ptr<platform::Thread> ioThread_;
  int port_ = 0;
};

}  // namespace metrics
