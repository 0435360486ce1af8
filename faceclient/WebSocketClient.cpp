#include "faceclient/WebSocketClient.h"

// The TLS client configuration; it brings the plain one along.
#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_client.hpp>

#include <cstdio>
#include <exception>
#include <ostream>
#include <streambuf>
#include <type_traits>

#include "faceclient/EventStream.h"
#include "metrics/Metrics.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"
#include "support/StringFormat.h"

namespace FRSWebSocketClient {

namespace {

using PlainConfig = websocketpp::config::asio_client;

// TLS, with a short socket shutdown: a half-open peer never answers the closing close_notify,
// and the library's 5 s default would keep the attempt alive past the next tick.
struct TlsConfig : websocketpp::config::asio_tls_client {
  struct transport_config : websocketpp::config::asio_tls_client::transport_config {
    static const long timeout_socket_shutdown = 1000;
  };
  typedef websocketpp::transport::asio::endpoint<transport_config> transport_type;
};

constexpr std::size_t kMaxUriChars = 255;
// A session that the server does not close in time is dropped, so a stop stays short.
constexpr long kCloseHandshakeTimeoutMs = 500;
// A longer line of the library's own log is cut (it hex-dumps what it receives).
constexpr std::size_t kMaxLibraryLogLineChars = 2048;
const char* const kHeartbeat = "heartbeat";

// The library's own log goes to our log at DEBUG, one line per entry, never to standard output.
class DebugLogBuffer : public std::streambuf {
 public:
  // The text of the first entry, without the library's time and channel: for the error log,
  // often the only place that names the cause of a failed attempt ("Connection refused").
  const std::string& First() const { return first_; }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    if (c == '\n') {
      Emit();
    } else if (line_.size() < kMaxLibraryLogLineChars) {
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
    if (first_.empty()) {
      const std::size_t channelEnd = line_.find("] ", line_.find("] ") + 1);
      first_ = channelEnd == std::string::npos ? line_ : line_.substr(channelEnd + 2);
    }
    CLogHelper* log = CLogHelper::GetInstance();
    // The library quotes the peer (close reasons, HTTP headers).
    if (log->IsDebugEnabled() && !line_.empty()) log->LogDebug("WebSocket: " + LogSafe(line_));
    line_.clear();
  }
  // Used under the library logger's own lock, on the attempt's I/O thread.
  std::string line_;
  std::string first_;
};

// Ends a connection from its I/O thread: a close handshake when it is open; otherwise (still
// connecting, or a close already under way) at once, so that its fail or close handler runs.
template <class Connection>
void CloseNow(const Connection& connection) {
  websocketpp::lib::error_code ec;
  connection->close(websocketpp::close::status::going_away, "", ec);
  if (ec) connection->terminate(websocketpp::lib::error_code());
}

// The TLS context of one attempt: the service's certificate must chain to the trust store (or
// to caFile) and name the host. The first reason for refusing it goes to *cause, which the
// attempt's I/O thread alone touches.
std::shared_ptr<boost::asio::ssl::context> MakeTlsContext(const std::string& host,
                                                          const std::string& caFile,
                                                          std::string* cause) {
  namespace ssl = boost::asio::ssl;
  auto context = std::make_shared<ssl::context>(ssl::context::tls_client);
  boost::system::error_code ec;
  context->set_verify_mode(ssl::verify_peer, ec);
  if (caFile.empty()) {
    context->set_default_verify_paths(ec);
  } else {
    context->load_verify_file(caFile, ec);
  }
  if (ec) *cause = "cannot load the trusted certificates " + caFile + ": " + ec.message();
  // The library sets the host as the server name (SNI) itself before the handshake.
  context->set_verify_callback(
      [host, cause, matchesHost = ssl::rfc2818_verification(host)](bool preverified,
                                                                  ssl::verify_context& vc) {
        const bool ok = matchesHost(preverified, vc);
        if (!ok && cause->empty()) {
          const int error = X509_STORE_CTX_get_error(vc.native_handle());
          *cause = StringFormat("the certificate of %s does not verify: %s", host.c_str(),
                                error != X509_V_OK ? X509_verify_cert_error_string(error)
                                                   : "it names another host");
        }
        return ok;
      },
      ec);
  return context;
}

}  // namespace

// One connection attempt, whatever its transport: what the supervisor does with it.
struct WebSocketClient::Attempt {
  virtual ~Attempt() = default;
  virtual bool Connected() const = 0;
  // Post to the attempt's I/O thread, which owns the connection.
  virtual void PostPing(WebSocketClient* client) = 0;
  virtual void PostClose() = 0;
  virtual void StopIo() = 0;

  DebugLogBuffer accessBuffer;
  DebugLogBuffer errorBuffer;
  std::ostream accessLog{&accessBuffer};
  std::ostream errorLog{&errorBuffer};
};

template <class Config>
struct WebSocketClient::AttemptOf final : WebSocketClient::Attempt {
  using Endpoint = websocketpp::client<Config>;
  using ConnectionPtr = typename Endpoint::connection_ptr;

  bool Connected() const override { return connection != nullptr; }
  void PostPing(WebSocketClient* client) override {
    ConnectionPtr con = connection;
    endpoint.get_io_service().post([client, con] {
      try {
        con->ping(kHeartbeat);
      } catch (...) {
        client->Close();
        CLogHelper::GetInstance()->LogInfo("Pinging failed");
      }
    });
  }
  void PostClose() override {
    ConnectionPtr con = connection;
    endpoint.get_io_service().post([con] { CloseNow(con); });
  }
  void StopIo() override { endpoint.stop(); }

  // Why the connection failed or closed, for the line that says the stream is down.
  std::string EndReason(websocketpp::connection_hdl handle, bool failed) {
    if (!cause.empty()) return cause;
    websocketpp::lib::error_code ec;
    ConnectionPtr con = endpoint.get_con_from_hdl(handle, ec);
    if (con == nullptr) return "connection lost";
    if (con->get_local_close_code() == websocketpp::close::status::message_too_big) {
      return StringFormat("a message over %zu bytes was dropped", kMaxMessageBytes);
    }
    if (failed && con->get_response_code() != websocketpp::http::status_code::uninitialized) {
      return StringFormat("the upgrade was answered with HTTP %d",
                          static_cast<int>(con->get_response_code()));
    }
    if (failed) return con->get_ec().message() + " (" + errorBuffer.First() + ")";
    const auto remoteCode = con->get_remote_close_code();
    if (remoteCode != websocketpp::close::status::no_status &&
        remoteCode != websocketpp::close::status::abnormal_close) {
      return StringFormat("closed by the service (%d %s)", static_cast<int>(remoteCode),
                          con->get_remote_close_reason().c_str());
    }
    return "connection lost: " + con->get_ec().message();
  }

  // Destroyed before the log sinks of the base, which it writes to.
  Endpoint endpoint;
  ConnectionPtr connection;  // set before the I/O loop runs, constant after
  std::string cause;         // I/O thread only: a reason this side found (pong, certificate)
};

WebSocketClient::WebSocketClient(EventStream* streamOwner, const char* streamPath,
                                 int pongTimeoutMs)
    : owner(streamOwner), path(streamPath), pongTimeoutMs_(pongTimeoutMs) {}

WebSocketClient::~WebSocketClient() {
  platform::ScopedLock guard(lock);
  connectionThread.reset();
  attempt_.reset();
}

void WebSocketClient::SetServer(const char* serverHost, int serverPort, bool tls,
                                const std::string& caFile) {
  std::snprintf(host, sizeof host, "%s", serverHost != nullptr ? serverHost : "");
  port = serverPort;
  tls_ = tls;
  caFile_ = caFile;
  // The stream's series exists, at 0, from the start: down until the first open.
  metrics::FaceStreamConnected(path, false);
}

std::string WebSocketClient::Uri() const {
  return StringFormatLimited(kMaxUriChars, "%s://%s:%d/%s", tls_ ? "wss" : "ws", host, port,
                             path);
}

int WebSocketClient::GetStatus() {
  platform::ScopedLock guard(lock);
  return status;
}

void WebSocketClient::SetStatus(int newStatus) {
  platform::ScopedLock guard(lock);
  SetStatusLocked(newStatus);
}

// Every change of status goes through here, so that the stream's gauge follows it.
void WebSocketClient::SetStatusLocked(int newStatus) {
  status = newStatus;
  metrics::FaceStreamConnected(path, newStatus == Open);
}

void WebSocketClient::Tick() {
  platform::ScopedLock guard(lock);
  if (stopping_) return;
  if (connectionThread != nullptr && !connectionThread->Join(0)) {
    // The attempt is alive: ping its open connection; one that is connecting or closing ends
    // by itself (every stage has a time-out), and a second attempt would discard its endpoint.
    if (status == Open && attempt_ != nullptr && attempt_->Connected()) attempt_->PostPing(this);
    return;
  }
  // No attempt is running, so there is no connection, whatever the status says.
  connectionThread = std::make_unique<platform::Thread>("ws-connection",
                                                        &WebSocketClient::ConnectionEntry, this);
  connectionThread->Resume();
  CLogHelper::GetInstance()->LogInfo("Open new thread for connection");
}

void WebSocketClient::Close() {
  platform::ScopedLock guard(lock);
  if (attempt_ == nullptr || !attempt_->Connected()) return;
  if (status == Open) SetStatusLocked(Closing);
  CLogHelper::GetInstance()->LogInfo("Closing connection");
  try {
    attempt_->PostClose();
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
  if (attempt_ != nullptr) attempt_->StopIo();
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
        attempt_->StopIo();
        attempt_.reset();
      } catch (const std::exception& e) {
        log->LogInfoF("Error occurred at closing connection: %s", LogSafe(e.what()).c_str());
      }
    }
  }
  unsigned result = 2;
  try {
    result = tls_ ? Connect<TlsConfig>() : Connect<PlainConfig>();
  } catch (const std::exception& e) {
    log->LogInfoF("Error occurred at getting connection: %s", LogSafe(e.what()).c_str());
  }
  // The I/O loop has ended, so the connection has too, even where no handler said so.
  bool lost = false;
  {
    platform::ScopedLock guard(lock);
    if (status == Open || status == Closing) {
      SetStatusLocked(Closed);
      lost = true;
    }
  }
  if (lost) ReportDown("the connection ended");
  return result;
}

template <class Config>
unsigned WebSocketClient::Connect() {
  CLogHelper* log = CLogHelper::GetInstance();
  auto attempt = std::make_unique<AttemptOf<Config>>();
  AttemptOf<Config>* self = attempt.get();
  auto& endpoint = attempt->endpoint;
  endpoint.get_alog().set_ostream(&attempt->accessLog);
  endpoint.get_elog().set_ostream(&attempt->errorLog);
  endpoint.set_access_channels(websocketpp::log::alevel::all);
  endpoint.clear_access_channels(websocketpp::log::alevel::frame_payload);
  endpoint.init_asio();
  endpoint.set_max_message_size(kMaxMessageBytes);
  endpoint.set_pong_timeout(pongTimeoutMs_);
  endpoint.set_message_handler(
      [this](websocketpp::connection_hdl, typename AttemptOf<Config>::Endpoint::message_ptr m) {
        OnMessage(m->get_payload());
      });
  endpoint.set_open_handler([this](websocketpp::connection_hdl) { OnOpen(); });
  // Each ends the I/O loop at once: the pong timer of a heartbeat sent just before the end
  // would otherwise hold it (and the next attempt) for up to the pong time-out.
  endpoint.set_fail_handler([this, self](websocketpp::connection_hdl h) {
    OnFail(self->EndReason(h, true));
    self->endpoint.stop();
  });
  endpoint.set_close_handler([this, self](websocketpp::connection_hdl h) {
    OnClose(self->EndReason(h, false));
    self->endpoint.stop();
  });
  endpoint.set_pong_timeout_handler([this, self](websocketpp::connection_hdl, std::string) {
    self->cause = StringFormat("no pong within %d ms of the heartbeat", pongTimeoutMs_);
    SetStatus(Closing);
    CloseNow(self->connection);
  });
  if constexpr (std::is_same_v<Config, TlsConfig>) {
    endpoint.set_tls_init_handler([this, self](websocketpp::connection_hdl) {
      return MakeTlsContext(host, caFile_, &self->cause);
    });
  }

  websocketpp::lib::error_code ec;
  typename AttemptOf<Config>::ConnectionPtr connection = endpoint.get_connection(Uri(), ec);
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
  bool wasDown;
  {
    platform::ScopedLock guard(lock);
    SetStatusLocked(Open);
    wasDown = down_;
    down_ = false;
    downReason_.clear();
  }
  CLogHelper* log = CLogHelper::GetInstance();
  log->LogInfo("On open connection");
  if (wasDown) log->LogInfoF("Event stream %s is back up", LogSafe(Uri()).c_str());
}

void WebSocketClient::OnFail(const std::string& reason) {
  SetStatus(Disconnected);
  CLogHelper::GetInstance()->LogInfo("On failed connection");
  ReportDown(reason);
}

void WebSocketClient::OnClose(const std::string& reason) {
  SetStatus(Closed);
  CLogHelper::GetInstance()->LogInfo("On close connection");
  ReportDown(reason);
}

void WebSocketClient::ReportDown(const std::string& reason) {
  {
    platform::ScopedLock guard(lock);
    if (stopping_ || (down_ && downReason_ == reason)) return;
    down_ = true;
    downReason_ = reason;
  }
  // The reason may quote the service (a close reason) or a configured host name.
  CLogHelper::GetInstance()->LogErrorF("Event stream %s is down: %s", LogSafe(Uri()).c_str(),
                                       LogSafe(reason).c_str());
}

void WebSocketClient::OnMessage(const std::string& payload) {
  if (owner != nullptr) owner->OnMessage(this, payload);
}

}  // namespace FRSWebSocketClient
