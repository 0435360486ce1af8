#include "metrics/MetricsListener.h"

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "metrics/SiteMetrics.h"
#include "metrics/StatusPage.h"
#include "platform/Event.h"
#include "platform/ListenSocket.h"
#include "platform/Thread.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"

namespace metrics {

namespace {

constexpr const char* kExpositionType = "text/plain; version=0.0.4; charset=utf-8";
constexpr const char* kJsonType = "application/json";
constexpr int kStopPollMs = 50;

// The server's connections: a few workers, and at most maxQueued accepted connections waiting
// for one. When the queue is full the acceptor waits, and new connections wait in the
// system's listen backlog. mutex_ guards jobs_ and stopping_.
class BoundedTaskQueue : public httplib::TaskQueue {
 public:
  BoundedTaskQueue(int workers, std::size_t maxQueued) : maxQueued_(maxQueued) {
    for (int i = 0; i < workers; ++i) {
      workers_.push_back(std::make_unique<platform::Thread>("metrics-worker", &WorkerEntry, this));
      workers_.back()->Resume();
    }
  }
  ~BoundedTaskQueue() override { shutdown(); }

  void enqueue(std::function<void()> job) override {
    std::unique_lock<std::mutex> lock(mutex_);
    space_.wait(lock, [&] { return jobs_.size() < maxQueued_ || stopping_; });
    jobs_.push_back(std::move(job));
    work_.notify_one();
  }

  // Lets the workers finish every accepted connection, then joins them.
  void shutdown() override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      stopping_ = true;
    }
    work_.notify_all();
    space_.notify_all();
    for (auto& worker : workers_) worker->Join(platform::kInfinite);
    workers_.clear();
  }

 private:
  static unsigned WorkerEntry(void* queue) {
    static_cast<BoundedTaskQueue*>(queue)->Work();
    return 0;
  }
  void Work() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        work_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
        space_.notify_one();
      }
      job();
    }
  }

  const std::size_t maxQueued_;
  std::vector<std::unique_ptr<platform::Thread>> workers_;  // owner's thread only
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable space_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
};

}  // namespace

bool ParseListenAddress(const std::string& text, std::string* ip, int* port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  const std::string digits = text.substr(colon + 1);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const int value = std::stoi(digits);
  if (value > 65535) return false;
  *ip = text.substr(0, colon);
  *port = value;
  return true;
}

MetricsListener::MetricsListener() = default;

MetricsListener::~MetricsListener() { Stop(); }

bool MetricsListener::Start(const std::string& listen) {
  CLogHelper* log = CLogHelper::GetInstance();
  std::string ip;
  int port = 0;
  if (!ParseListenAddress(listen, &ip, &port)) {
    log->LogErrorF("MetricsListen is not IP:PORT (%s): no metrics listener",
                   LogSafe(listen).c_str());
    return false;
  }
  auto server = std::make_unique<httplib::Server>();
  server->new_task_queue = [] {
    return new BoundedTaskQueue(MetricsListener::kWorkers, MetricsListener::kQueuedConnections);
  };
  // The library's default also shares the port with any other socket that asks (SO_REUSEPORT):
  // a second Vestrel on the same address would then take half the scrapes unnoticed.
  server->set_socket_options([](auto socket) { platform::ReuseAddressOnly(socket); });
  server->set_read_timeout(kTimeoutSeconds, 0);
  server->set_write_timeout(kTimeoutSeconds, 0);
  server->set_keep_alive_timeout(kTimeoutSeconds);
  server->set_keep_alive_max_count(kKeepAliveRequests);
  server->set_payload_max_length(kMaxRequestBody);
  server->set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
    if (request.method == "GET") return httplib::Server::HandlerResponse::Unhandled;
    response.status = 405;
    response.set_header("Allow", "GET");
    return httplib::Server::HandlerResponse::Handled;
  });
  server->Get("/metrics", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(SiteMetrics::Get().Exposition(), kExpositionType);
  });
  server->Get("/status", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(StatusJson(SiteMetrics::Get()), kJsonType);
  });
  int bound = port;
  if (port == 0) {
    bound = server->bind_to_any_port(ip);
  } else if (!server->bind_to_port(ip, port)) {
    bound = -1;
  }
  if (bound <= 0) {
    log->LogErrorF("Metrics listener cannot listen on %s: no metrics listener",
                   LogSafe(listen).c_str());
    return false;
  }
  server_ = std::move(server);
  port_ = bound;
  acceptor_ = std::make_unique<platform::Thread>("metrics-http", &AcceptorEntry, this);
  acceptor_->Resume();
  log->LogInfoF("Metrics listener on %s:%d", ip.c_str(), port_);
  return true;
}

unsigned MetricsListener::AcceptorEntry(void* listener) {
  try {
    static_cast<MetricsListener*>(listener)->server_->listen_after_bind();
  } catch (...) {
    return 1;
  }
  return 0;
}

void MetricsListener::Stop() {
  if (server_ == nullptr) return;
  // A stop before the acceptor listens does nothing, and a second one is not allowed: wait
  // until it listens (or has ended), then ask once.
  while (!server_->is_running() && !acceptor_->Join(kStopPollMs)) {
  }
  server_->stop();
  acceptor_->Join(platform::kInfinite);
  acceptor_.reset();
  server_.reset();
}

}  // namespace metrics
