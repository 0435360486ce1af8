#include "tests/support/WsProbe.h"

#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>

namespace simtest {

using Client = websocketpp::client<websocketpp::config::asio_client>;

struct WsProbe::Endpoint {
  Client client;
  Client::connection_ptr connection;
};

WsProbe::WsProbe() : endpoint_(std::make_unique<Endpoint>()) {
  Client& client = endpoint_->client;
  client.clear_access_channels(websocketpp::log::alevel::all);
  client.clear_error_channels(websocketpp::log::elevel::all);
  client.init_asio();
  auto ended = [this](websocketpp::connection_hdl handle) {
    std::error_code ec;
    const auto connection = endpoint_->client.get_con_from_hdl(handle, ec);
    std::lock_guard<std::mutex> guard(mutex_);
    if (connection) responseCode_ = connection->get_response_code();
    open_ = false;
    ended_ = true;
    changed_.notify_all();
  };
  client.set_open_handler([this](websocketpp::connection_hdl) {
    std::lock_guard<std::mutex> guard(mutex_);
    open_ = true;
    responseCode_ = 101;
    changed_.notify_all();
  });
  client.set_fail_handler(ended);
  client.set_close_handler(ended);
  client.set_message_handler([this](websocketpp::connection_hdl, Client::message_ptr message) {
    std::lock_guard<std::mutex> guard(mutex_);
    messages_.push_back(message->get_payload());
    changed_.notify_all();
  });
}

WsProbe::~WsProbe() {
  if (!thread_.joinable()) return;
  Close();
  if (!WaitEnded(std::chrono::seconds(3))) endpoint_->client.stop();
  thread_.join();
}

bool WsProbe::Connect(const std::string& ip, int port, const std::string& path,
                      std::chrono::milliseconds timeout) {
  if (thread_.joinable()) return false;
  std::error_code ec;
  const std::string uri = "ws://" + ip + ":" + std::to_string(port) + path;
  endpoint_->connection = endpoint_->client.get_connection(uri, ec);
  if (ec) return false;
  endpoint_->connection->set_open_handshake_timeout(timeout.count());
  endpoint_->client.connect(endpoint_->connection);
  thread_ = std::thread([this] {
    try {
      endpoint_->client.run();
    } catch (...) {
      std::lock_guard<std::mutex> guard(mutex_);
      ended_ = true;
      changed_.notify_all();
    }
  });
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout + std::chrono::seconds(1), [this] { return open_ || ended_; });
  return open_;
}

bool WsProbe::NextMessage(std::string* message, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changed_.wait_for(lock, timeout, [this] { return !messages_.empty(); })) return false;
  *message = std::move(messages_.front());
  messages_.pop_front();
  return true;
}

bool WsProbe::Ping(const std::string& payload) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!open_) return false;
  }
  auto connection = endpoint_->connection;
  endpoint_->client.get_io_service().post([connection, payload] {
    std::error_code ec;
    connection->ping(payload, ec);
  });
  return true;
}

void WsProbe::Close() {
  if (!endpoint_->connection) return;
  auto connection = endpoint_->connection;
  endpoint_->client.get_io_service().post([connection] {
    std::error_code ec;
    connection->close(websocketpp::close::status::normal, "", ec);
  });
}

bool WsProbe::WaitEnded(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return ended_; });
}

int WsProbe::ResponseCode() {
  std::lock_guard<std::mutex> guard(mutex_);
  return responseCode_;
}

}  // namespace simtest
