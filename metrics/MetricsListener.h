// The metrics listener: an HTTP server on the configured address that answers GET /metrics
// (Prometheus text format 0.0.4) and GET /status (StatusPage.h); any other path gets 404 and any
// other method 405. It is small on purpose: a few worker threads, short time-outs, small
// requests, and a connection queue whose bound makes the acceptor wait.
// Start and Stop run on the owner's thread (the main thread); the server runs on its own
// acceptor thread ("metrics-http") and workers ("metrics-worker").
#pragma once

#include <memory>
#include <string>

namespace httplib {
class Server;
}
namespace platform {
class Thread;
}

namespace metrics {

// "IP:PORT" split into its parts; false when it is not of that form (port 1 to 65535).
bool ParseListenAddress(const std::string& text, std::string* ip, int* port);

class MetricsListener {
 public:
  static constexpr int kWorkers = 2;
  static constexpr int kQueuedConnections = 8;
  static constexpr int kTimeoutSeconds = 2;
  static constexpr int kKeepAliveRequests = 10;
  static constexpr std::size_t kMaxRequestBody = 1024;

  MetricsListener();
  ~MetricsListener();  // stops
  MetricsListener(const MetricsListener&) = delete;
  MetricsListener& operator=(const MetricsListener&) = delete;

  // Listens on "IP:PORT" (port 0: any free port). False, with one ERROR line, when the
  // address is malformed or cannot be bound; nothing runs then.
  bool Start(const std::string& listen);
  // The port listened on, once started.
  int Port() const { return port_; }
  void Stop();

 private:
  static unsigned AcceptorEntry(void* listener);

  std::unique_ptr<httplib::Server> server_;
  std::unique_ptr<platform::Thread> acceptor_;
  int port_ = 0;
};

}  // namespace metrics
