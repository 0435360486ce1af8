#include "metrics/MetricsListener.h"

#include <openssl/ssl.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <exception>

#include "metrics/BasicAuth.h"
#include "metrics/MetricsRouter.h"
#include "metrics/MetricsSession.h"
#include "metrics/WebConfig.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"

namespace metrics {

namespace net = boost::asio;
using boost::system::error_code;
using net::ip::tcp;

namespace {

// After an accept that failed (out of file descriptors, say), before the next one.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(100);

std::unique_ptr<net::ssl::context> MakeTlsContext(const WebConfig& config, std::string* error) {
  auto tls = std::make_unique<net::ssl::context>(net::ssl::context::tls_server);
  error_code ec;
  tls->set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 |
                       net::ssl::context::no_sslv3 | net::ssl::context::single_dh_use,
                   ec);
  if (!ec) tls->use_certificate_chain_file(config.certFile, ec);
  if (!ec) tls->use_private_key_file(config.keyFile, net::ssl::context::pem, ec);
  if (ec) {
    *error = ec.message();
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(tls->native_handle(), TLS1_2_VERSION);
  return tls;
}

}  // namespace

// Members are destroyed in reverse order: the I/O context (and with it the sessions that its
// pending handlers hold) goes before the TLS context, the router and the count they use.
struct MetricsListener::Server {
  explicit Server(std::unique_ptr<BasicAuth> auth) : router(std::move(auth)) {}

  void Accept() {
    acceptor.async_accept([this](error_code ec, tcp::socket socket) {
      if (ec == net::error::operation_aborted) return;
      if (ec) {
        retry.expires_after(kAcceptRetryPause);
        retry.async_wait([this](error_code waitError) {
          if (!waitError) Accept();
        });
        return;
      }
      if (active >= kMaxConnections) {
        error_code ignored;
        socket.close(ignored);
      } else {
        StartSession(std::move(socket), tls.get(), router, ConnectionSlot(&active));
      }
      Accept();
    });
  }

  int active = 0;  // sessions alive; I/O thread only
  MetricsRouter router;
  std::unique_ptr<net::ssl::context> tls;  // null: plain HTTP
  net::io_context io{1};
  tcp::acceptor acceptor{io};
  net::steady_timer retry{io};
};

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

bool MetricsListener::Start(const std::string& listen, const std::string& webConfigPath) {
  CLogHelper* log = CLogHelper::GetInstance();
  std::string ip;
  int port = 0;
  if (!ParseListenAddress(listen, &ip, &port)) {
    log->LogErrorF("MetricsListen is not IP:PORT (%s): no metrics listener",
                   LogSafe(listen).c_str());
    return false;
  }
  WebConfig access;
  std::string error;
  if (!webConfigPath.empty() && !LoadWebConfig(webConfigPath, &access, &error)) {
    log->LogErrorF("MetricsWebConfig %s is refused (%s): no metrics listener",
                   LogSafe(webConfigPath).c_str(), LogSafe(error).c_str());
    return false;
  }
  auto server = std::make_unique<Server>(
      access.BasicAuth() ? std::make_unique<BasicAuth>(access.users) : nullptr);
  if (access.Tls() && (server->tls = MakeTlsContext(access, &error)) == nullptr) {
    log->LogErrorF(
        "MetricsWebConfig %s: the certificate or key cannot be used (%s): no metrics "
        "listener",
        LogSafe(webConfigPath).c_str(), LogSafe(error).c_str());
    return false;
  }
  // A name is looked up; "[::1]" stands for an IPv6 address.
  const std::string host =
      ip.size() > 2 && ip.front() == '[' && ip.back() == ']' ? ip.substr(1, ip.size() - 2) : ip;
  error_code ec;
  tcp::resolver resolver(server->io);
  const auto endpoints =
      resolver.resolve(host, std::to_string(port), tcp::resolver::numeric_service, ec);
  tcp::acceptor& acceptor = server->acceptor;
  if (!ec && endpoints.empty()) ec = net::error::host_not_found;
  if (!ec) acceptor.open(endpoints.begin()->endpoint().protocol(), ec);
  // Only SO_REUSEADDR: a port that another socket listens on stays refused, so a second
  // Vestrel on the same address fails here instead of taking half the scrapes.
  if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoints.begin()->endpoint(), ec);
  if (!ec) acceptor.listen(tcp::socket::max_listen_connections, ec);
  if (ec) {
    log->LogErrorF("Metrics listener cannot listen on %s (%s): no metrics listener",
                   LogSafe(listen).c_str(), ec.message().c_str());
    return false;
  }
  port_ = acceptor.local_endpoint().port();
  server->Accept();
  server_ = std::move(server);
  ioThread_ = std::make_unique<platform::Thread>("metrics-io", &IoEntry, server_.get());
  ioThread_->Resume();
  const std::string summary = access.Summary();
  log->LogInfoF("Metrics listener on %s:%d%s%s", LogSafe(ip).c_str(), port_,
                summary.empty() ? "" : " with ", summary.c_str());
  return true;
}

unsigned MetricsListener::IoEntry(void* server) {
  net::io_context& io = static_cast<Server*>(server)->io;
  // A handler that throws (memory short, say) ends only its own session: the loop goes on.
  for (;;) {
    try {
      io.run();
      return 0;
    } catch (const std::exception& e) {
      CLogHelper::GetInstance()->LogErrorF("Metrics listener: %s", LogSafe(e.what()).c_str());
    } catch (...) {
      CLogHelper::GetInstance()->LogError("Metrics listener: unknown exception");
    }
  }
}

void MetricsListener::Stop() {
  if (server_ == nullptr) return;
  server_->io.stop();
  ioThread_->Join(platform::kInfinite);
  ioThread_.reset();
  server_.reset();
}

}  // namespace metrics
