// Test helper: a WebSocket server on 127.0.0.1 inside the test process, for the FRS event
// stream. It records opens, closes, pings and messages per resource path, can push text to
// every connection of a path and can drop all connections. One asio thread of its own runs
// it; the record and the connection list are guarded by mutex_. The test thread owns it.
#pragma once

#include <websocketpp/config/asio.hpp>
#include <websocketpp/server.hpp>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

template <class Config>
class BasicWsTestServer {
 public:
  using Server = websocketpp::server<Config>;

  // port 0 picks a free one. The TLS server needs its certificate chain and key (PEM files).
  explicit BasicWsTestServer(uint16_t port = 0, const std::string& certFile = "",
                             const std::string& keyFile = "") {
    server_.clear_access_channels(websocketpp::log::alevel::all);
    server_.clear_error_channels(websocketpp::log::elevel::all);
    server_.init_asio();
    server_.set_reuse_addr(true);
    server_.set_open_handler([this](websocketpp::connection_hdl h) {
      std::lock_guard<std::mutex> guard(mutex_);
      const std::string path = PathOf(h);
      connections_[path].insert(h);
      ++opens_[path];
    });
    server_.set_close_handler([this](websocketpp::connection_hdl h) {
      std::lock_guard<std::mutex> guard(mutex_);
      const std::string path = PathOf(h);
      connections_[path].erase(h);
      ++closes_[path];
    });
    server_.set_ping_handler([this](websocketpp::connection_hdl h, std::string payload) {
      std::lock_guard<std::mutex> guard(mutex_);
      pings_[PathOf(h)].push_back(payload);
      return !stallPings_;
    });
    if constexpr (std::is_same_v<Config, websocketpp::config::asio_tls>) {
      server_.set_tls_init_handler([certFile, keyFile](websocketpp::connection_hdl) {
        namespace ssl = boost::asio::ssl;
        auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
        context->use_certificate_chain_file(certFile);
        context->use_private_key_file(keyFile, ssl::context::pem);
        return context;
      });
    }
    server_.set_message_handler([this](websocketpp::connection_hdl h, typename Server::message_ptr m) {
      std::lock_guard<std::mutex> guard(mutex_);
      messages_[PathOf(h)].push_back(m->get_payload());
    });
    server_.listen(boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port));
    server_.start_accept();
    boost::system::error_code ec;
    port_ = server_.get_local_endpoint(ec).port();
    thread_ = std::thread([this] { server_.run(); });
  }
  ~BasicWsTestServer() {
    server_.get_io_service().post([this] {
      websocketpp::lib::error_code ec;
      server_.stop_listening(ec);
      // terminate runs the close handler at once, which takes mutex_.
      for (auto& h : AllConnections()) {
        if (auto con = server_.get_con_from_hdl(h, ec)) con->terminate(ec);
      }
    });
    if (thread_.joinable()) {
      server_.stop();
      thread_.join();
    }
  }
  BasicWsTestServer(const BasicWsTestServer&) = delete;
  BasicWsTestServer& operator=(const BasicWsTestServer&) = delete;

  uint16_t Port() const { return port_; }

  int Opens(const std::string& path) {
    std::lock_guard<std::mutex> guard(mutex_);
    return opens_[path];
  }
  int Closes(const std::string& path) {
    std::lock_guard<std::mutex> guard(mutex_);
    return closes_[path];
  }
  int OpenConnections(const std::string& path) {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(connections_[path].size());
  }
  std::vector<std::string> Pings(const std::string& path) {
    std::lock_guard<std::mutex> guard(mutex_);
    return pings_[path];
  }
  std::vector<std::string> Messages(const std::string& path) {
    std::lock_guard<std::mutex> guard(mutex_);
    return messages_[path];
  }

  // Sends the text to every open connection of the path, on the server's thread.
  void Send(const std::string& path, const std::string& text) {
    server_.get_io_service().post([this, path, text] {
      std::vector<websocketpp::connection_hdl> handles;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        handles.assign(connections_[path].begin(), connections_[path].end());
      }
      for (auto& h : handles) {
        websocketpp::lib::error_code ec;
        server_.send(h, text, websocketpp::frame::opcode::text, ec);
      }
    });
  }
  // Pings are recorded but get no pong while stalled; the connections stay.
  void StallPings(bool stall) { stallPings_ = stall; }
  // Closes every connection with a normal close.
  void CloseAll(const std::string& reason = "bye") {
    server_.get_io_service().post([this, reason] {
      for (auto& h : AllConnections()) {
        websocketpp::lib::error_code ec;
        server_.close(h, websocketpp::close::status::normal, reason, ec);
      }
    });
  }

 private:
  std::vector<websocketpp::connection_hdl> AllConnections() {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<websocketpp::connection_hdl> all;
    for (auto& entry : connections_) all.insert(all.end(), entry.second.begin(), entry.second.end());
    return all;
  }
  std::string PathOf(websocketpp::connection_hdl h) {
    websocketpp::lib::error_code ec;
    auto con = server_.get_con_from_hdl(h, ec);
    return con ? con->get_resource() : std::string();
  }

  Server server_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stallPings_{false};

  std::mutex mutex_;
  std::map<std::string, std::set<websocketpp::connection_hdl, std::owner_less<websocketpp::connection_hdl>>>
      connections_;
  std::map<std::string, int> opens_;
  std::map<std::string, int> closes_;
  std::map<std::string, std::vector<std::string>> pings_;
  std::map<std::string, std::vector<std::string>> messages_;
};

using WsTestServer = BasicWsTestServer<websocketpp::config::asio>;
using WssTestServer = BasicWsTestServer<websocketpp::config::asio_tls>;
