#include "faceclient/WebSocketClient.h"

#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>

#include <cstdio>
#include <exception>
#include <ostream>
#include <streambuf>

#include "faceclient/EventStream.h"
#include "metrics/Metrics.h"
#include "support/LogHelper.h"
#include "support/StringFormat.h"

namespace FRSWebSocketClient {

namespace {

using Endpoint = websocketpp::client<websocketpp::config::asio_client>;

constexpr std::size_t kMaxUriChars = 255;
// A session that the server does not close in time is dropped, so a stop stays short.
constexpr long kCloseHandshakeTimeoutMs = 500;

// The library's own log goes to our log at DEBUG, one line per entry, never to standard output.
class DebugLogBuffer : public std::streambuf {
 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    if (c == '\n') {
      Emit();
    } else {
      line_ += static_cast<char>(c);
    }
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    for (std::streamsize i = 0; i < n; ++i) overflow(static_cast<unsigned char>(s[i]));
    return n;
  }

 private:
  void Emit() {
    CLogHelper* log = CLogHelper::GetInstance();
    if (log->IsDebugEnabled() && !line_.empty()) log->LogDebug("WebSocket: " + line_);
    line_.clear();
  }
  std::string line_;  // used under the library logger's own lock
};

}  // namespace

// One connection attempt: the endpoint, its connection and the sinks of its log.
struct WebSocketClient::Attempt {
  DebugLogBuffer accessBuffer;
  DebugLogBuffer errorBuffer;
  std::ostream accessLog{&accessBuffer};
  std::ostream errorLog{&errorBuffer};
  Endpoint endpoint;
  Endpoint::connection_ptr connection;
};

WebSocketClient::WebSocketClient(EventStream* streamOwner, const char* streamPath)
    : owner(streamOwner), path(streamPath) {}

WebSocketClient::~WebSocketClient() {
  platform::ScopedLock guard(lock);
  connectionThread.reset();
  attempt_.reset();
}

void WebSocketClient::SetServer(const char* serverHost, int serverPort) {
  std::snprintf(host, sizeof host, "%s", serverHost != nullptr ? serverHost : "");
  port = serverPort;
}

std::string WebSocketClient::Uri() const {
  return StringFormatLimited(kMaxUriChars, "ws://%s:%d/%s", host, port, path);
}

int WebSocketClient::GetStatus() {
  platform::ScopedLock guard(lock);
  return status;
}

void WebSocketClient::SetStatus(int newStatus) {
  platform::ScopedLock guard(lock);
  status = newStatus;
  metrics::FaceStreamConnected(path, newStatus == Open);
}

void WebSocketClient::Tick() {
  CLogHelper* log = CLogHelper::GetInstance();
  platform::ScopedLock guard(lock);
  if (stopping_) return;
  const bool connected = attempt_ != nullptr && attempt_->connection != nullptr;
  if (connected && status == Open) {
    // The connection belongs to its I/O thread: the ping is sent from there.
    auto connection = attempt_->connection;
    attempt_->endpoint.get_io_service().post([this, connection] {
      try {
        connection->ping("heartbeat");
      } catch (...) {
        Close();
        CLogHelper::GetInstance()->LogInfo("Pinging failed");
      }
    });
    return;
  }
  if (connected && status == Closing) return;
  // An attempt still in progress is left to finish: a second one would discard its endpoint.
  if (connectionThread != nullptr && !connectionThread->Join(0)) return;
  connectionThread = std::make_unique<platform::Thread>("ws-connection",
                                                        &WebSocketClient::ConnectionEntry, this);
  connectionThread->Resume();
  log->LogInfo("Open new thread for connection");
}

void WebSocketClient::Close() {
  platform::ScopedLock guard(lock);
  if (attempt_ == nullptr || attempt_->connection == nullptr) return;
  status = Closing;
  CLogHelper::GetInstance()->LogInfo("Closing connection");
  try {
    // On the I/O thread, which owns the connection; the close handshake then ends the loop.
    auto connection = attempt_->connection;
    Endpoint* endpoint = &attempt_->endpoint;
    endpoint->get_io_service().post([connection, endpoint] {
      websocketpp::lib::error_code ec;
      connection->close(websocketpp::close::status::going_away, "", ec);
      // A connection that never opened cannot send a close: end its I/O loop instead.
      if (ec) endpoint->stop();
    });
  } catch (...) {
    CLogHelper::GetInstance()->LogInfo("Closing failed");
  }
}

void WebSocketClient::Shutdown() {
  {
    platform::ScopedLock guard(lock);
    stopping_ = true;
  }
  Close();
}

void WebSocketClient::StopIo() {
  platform::ScopedLock guard(lock);
  stopping_ = true;
  if (attempt_ != nullptr) attempt_->endpoint.stop();
}

bool WebSocketClient::WaitForConnectionThread(int timeoutMs) {
  platform::Thread* thread;
  {
    platform::ScopedLock guard(lock);
    thread = connectionThread.get();
  }
  // Only the supervisor replaces the thread object, and it has ended before this is called.
  return thread == nullptr || thread->Join(timeoutMs);
}

unsigned WebSocketClient::ConnectionEntry(void* client) {
  unsigned result = 1;
  try {
    result = static_cast<WebSocketClient*>(client)->RunConnection();
  } catch (...) {
    result = 1;
  }
  if (result != 0) CLogHelper::GetInstance()->LogError("Exception at worker thread");
  return result;
}

unsigned WebSocketClient::RunConnection() {
  CLogHelper* log = CLogHelper::GetInstance();
  {
    platform::ScopedLock guard(lock);
    if (attempt_ != nullptr) {
      try {
        attempt_->endpoint.stop();
        attempt_->endpoint.reset();
        attempt_.reset();
      } catch (const std::exception& e) {
        log->LogInfoF("Error occurred at closing connection: %s", e.what());
      }
    }
  }
  try {
    return Connect();
  } catch (const std::exception& e) {
    log->LogInfoF("Error occurred at getting connection: %s", e.what());
    return 2;
  }
}

unsigned WebSocketClient::Connect() {
  CLogHelper* log = CLogHelper::GetInstance();
  auto attempt = std::make_unique<Attempt>();
  Endpoint& endpoint = attempt->endpoint;
  endpoint.get_alog().set_ostream(&attempt->accessLog);
  endpoint.get_elog().set_ostream(&attempt->errorLog);
  endpoint.set_access_channels(websocketpp::log::alevel::all);
  endpoint.clear_access_channels(websocketpp::log::alevel::frame_payload);
  endpoint.init_asio();
  endpoint.set_message_handler([this](websocketpp::connection_hdl, Endpoint::message_ptr message) {
    OnMessage(message->get_payload());
  });
  endpoint.set_open_handler([this](websocketpp::connection_hdl) { OnOpen(); });
  endpoint.set_fail_handler([this](websocketpp::connection_hdl) { OnFail(); });
  endpoint.set_close_handler([this](websocketpp::connection_hdl) { OnClose(); });

  websocketpp::lib::error_code ec;
  Endpoint::connection_ptr connection = endpoint.get_connection(Uri(), ec);
  {
    platform::ScopedLock guard(lock);
    if (ec) {
      log->LogInfoF("Failed to get connection: %d", ec.value());
      return 1;
    }
    if (stopping_) return 0;
    connection->set_close_handshake_timeout(kCloseHandshakeTimeoutMs);
    attempt->connection = connection;
    endpoint.connect(connection);
    attempt_ = std::move(attempt);
  }
  // The endpoint lives in attempt_, which only this thread replaces or the destructor frees.
  endpoint.run();
  log->LogInfo("Exiting connection thread");
  return 0;
}

void WebSocketClient::OnOpen() {
  SetStatus(Open);
  CLogHelper::GetInstance()->LogInfo("On open connection");
}

void WebSocketClient::OnFail() {
  SetStatus(Disconnected);
  CLogHelper::GetInstance()->LogInfo("On failed connection");
}

void WebSocketClient::OnClose() {
  SetStatus(Closed);
  CLogHelper::GetInstance()->LogInfo("On close connection");
}

void WebSocketClient::OnMessage(const std::string& payload) {
  if (owner != nullptr) owner->OnMessage(this, payload);
}

}  // namespace FRSWebSocketClient
