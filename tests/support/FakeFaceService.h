// Test helper: a face service inside the test process, an httplib::Server (SSLServer when
// given a certificate) on 127.0.0.1 with a port of its own. Each path answers from a queue of
// scripted replies (then from its default reply), and every request is recorded. Handlers run
// on the server's threads; the replies and the record are guarded by mutex_. The test thread
// owns the object.
#pragma once

#include <httplib.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeFaceService {
 public:
  struct Reply {
    int status = 200;
    std::string body;
    std::chrono::milliseconds delay{0};  // the answer comes this late
    std::chrono::milliseconds drip{0};   // then the body comes one byte each drip
    std::string encoding{};              // a Content-Encoding header to send
  };
  struct Request {
    std::string path;    // without the query
    std::string target;  // as sent, query included
    std::string body;
    bool hasContentType = false;
    std::string contentType;
    std::string acceptEncoding{};
  };

  explicit FakeFaceService(const std::string& certPath = "", const std::string& keyPath = "")
      : server_(certPath.empty() ? new httplib::Server()
                                 : new httplib::SSLServer(certPath.c_str(), keyPath.c_str())) {
    server_->Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
      Reply reply = Take(req);
      if (reply.delay.count() > 0) std::this_thread::sleep_for(reply.delay);
      res.status = reply.status;
      if (!reply.encoding.empty()) res.set_header("Content-Encoding", reply.encoding);
      if (reply.drip.count() == 0) return res.set_content(reply.body, "application/json");
      auto body = std::make_shared<std::string>(reply.body);
      res.set_content_provider(
          body->size(), "application/json",
          [body, drip = reply.drip](size_t at, size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(drip);
            return sink.write(body->data() + at, 1);
          });
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // A loaded machine may take a while to schedule the server's thread.
    for (int i = 0; i < 5000 && !server_->is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  ~FakeFaceService() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
  }
  FakeFaceService(const FakeFaceService&) = delete;
  FakeFaceService& operator=(const FakeFaceService&) = delete;

  int Port() const { return port_; }

  // The next request to path gets this reply; replies queue up in order.
  void Next(const std::string& path, int status, const std::string& body,
            std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
    Next(path, {status, body, delay});
  }
  void Next(const std::string& path, const Reply& reply) {
    std::lock_guard<std::mutex> guard(mutex_);
    queued_[path].push_back(reply);
  }
  // What path answers when nothing is queued (404 with an empty body unless set).
  void Default(const std::string& path, int status, const std::string& body) {
    std::lock_guard<std::mutex> guard(mutex_);
    defaults_[path] = {status, body};
  }

  std::vector<Request> Requests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
  }
  std::vector<Request> RequestsTo(const std::string& path) const {
    std::vector<Request> matching;
    for (const Request& r : Requests()) {
      if (r.path == path) matching.push_back(r);
    }
    return matching;
  }

 private:
  Reply Take(const httplib::Request& req) {
    std::lock_guard<std::mutex> guard(mutex_);
    Request recorded{req.path, req.target, req.body, req.has_header("Content-Type"),
                     req.get_header_value("Content-Type"), req.get_header_value("Accept-Encoding")};
    requests_.push_back(recorded);
    auto& queue = queued_[req.path];
    if (!queue.empty()) {
      Reply reply = queue.front();
      queue.pop_front();
      return reply;
    }
    auto found = defaults_.find(req.path);
    return found != defaults_.end() ? found->second : Reply{404, ""};
  }

  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::thread thread_;

  mutable std::mutex mutex_;
  std::map<std::string, std::deque<Reply>> queued_;  // guarded by mutex_
  std::map<std::string, Reply> defaults_;             // guarded by mutex_
  std::vector<Request> requests_;                     // guarded by mutex_
};
