#include "tools/facesim/HttpSession.h"

#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <sstream>

#include "tools/facesim/FaultyResponse.h"
#include "tools/facesim/ServicePool.h"
#include "tools/facesim/SimServer.h"
#include "tools/facesim/StreamSession.h"

namespace facesim {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr auto kIdleTimeout = std::chrono::seconds(30);
constexpr auto kWriteTimeout = std::chrono::seconds(30);
constexpr std::uint64_t kMaxRequestBody = 32 * 1024 * 1024;
// Endless answer headers go out a chunk of lines at a time, and end (the connection closed)
// after this much, should the client never give up.
constexpr size_t kHeaderChunkLines = 1000;
constexpr size_t kMaxEndlessHeaderBytes = 64 * 1024 * 1024;

// Header lines "X-Pad-N: ..." numbered from first, kHeaderChunkLines of them.
std::string HeaderChunk(size_t first) {
  std::string chunk;
  for (size_t n = first; n < first + kHeaderChunkLines; ++n) {
    chunk += "X-Pad-" + std::to_string(n) + ": 0123456789abcdef0123456789abcdef\r\n";
  }
  return chunk;
}

std::chrono::milliseconds Milliseconds(double seconds) {
  return std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
}

std::string PathOf(const HttpRequest& request) {
  const beast::string_view target = request.target();
  return std::string(target.substr(0, target.find('?')));
}

std::string RequestLine(const std::string& path, int status, const ServiceAnswer& answer,
                        const std::optional<AnswerFault>& fault) {
  std::string line = "request " + path + " status=" + std::to_string(status);
  if (!answer.person.empty()) line += " person=" + answer.person;
  if (answer.score) {
    char score[32];
    std::snprintf(score, sizeof score, " score=%.6f", *answer.score);
    line += score;
  }
  if (fault) line += " fault=" + fault->Name();
  return line;
}

template <typename Stream>
class HttpSessionOn final : public HttpSession,
                            public std::enable_shared_from_this<HttpSessionOn<Stream>> {
 public:
  HttpSessionOn(Stream stream, SimServer& server)
      : stream_(std::move(stream)), delay_(stream_.get_executor()), server_(server) {}

  void Start();
  void Drop() override;

 private:
  // What the answer goes back to.
  struct Exchange {
    std::string path;
    unsigned version = 11;
    bool keepAlive = false;
  };

  void Read();
  void OnRead(beast::error_code ec);
  // A request the parser refused: answered with status and the connection closed.
  void RefuseMalformed(beast::error_code ec);
  // Waits for a worker of the service, then for the latency, then serves the request.
  void Admit(HttpRequest request);
  void Serve(HttpRequest request);
  void Upgrade(const std::string& path, HttpRequest request);
  // Reports a request held back by a slow fault and sets the timer.
  void Hold(const std::string& path, const AnswerFault& slow);
  // Waits out a slow fault, then sends.
  void Reply(const Exchange& exchange, ServiceAnswer answer, std::optional<AnswerFault> fault);
  void Send(const Exchange& exchange, const ServiceAnswer& answer,
            const std::optional<AnswerFault>& fault);
  void Write(std::shared_ptr<HttpResponse> response, bool closeAfter);
  // Writes bytes[next], then the rest one at a time, seconds apart.
  void Drip(std::shared_ptr<const std::string> bytes, size_t next, double seconds,
            bool closeAfter);
  // Writes the status line, then header lines without end, a chunk at a time, until the
  // client goes away or kMaxEndlessHeaderBytes went out; then closes.
  void EndlessHeaders(size_t line, size_t sent);
  void Close();

  Stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  asio::steady_timer delay_;
  SimServer& server_;
  ServicePool::Slot slot_;  // held from the request's turn until its answer goes out
  bool dropped_ = false;
  bool handedOver_ = false;  // the connection belongs to a stream session now
};

template <typename Stream>
void HttpSessionOn<Stream>::Start() {
  if constexpr (std::is_same_v<Stream, TlsStream>) {
    beast::get_lowest_layer(stream_).expires_after(kIdleTimeout);
    stream_.async_handshake(asio::ssl::stream_base::server,
                            [self = this->shared_from_this()](beast::error_code ec) {
                              if (self->dropped_) return;
                              if (ec) {
                                self->server_.Printer().Error("tls handshake failed: " +
                                                              ec.message());
                                self->Close();
                                return;
                              }
                              self->Read();
                            });
  } else {
    Read();
  }
}

template <typename Stream>
void HttpSessionOn<Stream>::Read() {
  parser_.emplace();
  parser_->body_limit(kMaxRequestBody);
  beast::get_lowest_layer(stream_).expires_after(kIdleTimeout);
  http::async_read(stream_, buffer_, *parser_,
                   [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                     self->OnRead(ec);
                   });
}

template <typename Stream>
void HttpSessionOn<Stream>::OnRead(beast::error_code ec) {
  if (dropped_) return;
  if (ec == http::error::end_of_stream || ec == http::error::partial_message) {
    Close();
    return;
  }
  if (ec && ec.category() == beast::http::make_error_code(http::error::bad_method).category()) {
    RefuseMalformed(ec);
    return;
  }
  if (ec) {  // timed out, reset, dropped, a TLS failure
    Close();
    return;
  }
  Admit(parser_->release());
}

template <typename Stream>
void HttpSessionOn<Stream>::RefuseMalformed(beast::error_code ec) {
  Exchange exchange;
  exchange.path = parser_->is_header_done() ? PathOf(parser_->get()) : "-";
  const int status = ec == http::error::body_limit     ? 413
                     : ec == http::error::header_limit ? 431
                                                       : 400;
  ServiceAnswer answer = ErrorAnswer(status, "malformed HTTP request: " + ec.message());
  answer.problem = "malformed HTTP request: " + ec.message();
  Send(exchange, answer, std::nullopt);
}

template <typename Stream>
void HttpSessionOn<Stream>::Admit(HttpRequest request) {
  const std::string path = PathOf(request);
  if (beast::websocket::is_upgrade(request) && server_.IsStream(path)) {
    Serve(std::move(request));
    return;
  }
  auto shared = std::make_shared<HttpRequest>(std::move(request));
  const bool queued = server_.Pool().Acquire(
      [self = this->shared_from_this(), shared, path](ServicePool::Slot slot) {
        if (self->dropped_) return;
        self->slot_ = std::move(slot);
        const double latency = self->server_.LatencySeconds(path);
        if (latency <= 0) {
          self->Serve(std::move(*shared));
          return;
        }
        self->delay_.expires_after(Milliseconds(latency));
        self->delay_.async_wait([self, shared](beast::error_code ec) {
          if (!ec && !self->dropped_) self->Serve(std::move(*shared));
        });
      });
  if (queued) server_.Printer().Event("request " + path + " queued");
}

template <typename Stream>
void HttpSessionOn<Stream>::Serve(HttpRequest request) {
  const std::string target(request.target());
  const size_t question = target.find('?');
  Exchange exchange;
  exchange.path = target.substr(0, question);
  exchange.version = request.version();
  exchange.keepAlive = request.keep_alive();

  if (beast::websocket::is_upgrade(request) && server_.IsStream(exchange.path)) {
    std::optional<AnswerFault> fault = server_.TakeFault(exchange.path);
    if (!fault) {
      Upgrade(exchange.path, std::move(request));
    } else if (fault->kind == AnswerFault::Kind::Slow) {
      Hold(exchange.path, *fault);
      auto shared = std::make_shared<HttpRequest>(std::move(request));
      delay_.async_wait([self = this->shared_from_this(), shared, exchange,
                         fault](beast::error_code waitError) {
        if (waitError || self->dropped_) return;
        self->server_.Printer().Event(RequestLine(exchange.path, 101, ServiceAnswer(), fault));
        self->Upgrade(exchange.path, std::move(*shared));
      });
    } else {
      // Any other fault is answered as plain HTTP instead of the upgrade.
      exchange.keepAlive = false;
      Reply(exchange, JsonAnswer("{}"), fault);
    }
    return;
  }
  if (!server_.IsPostEndpoint(exchange.path)) {
    const bool stream = server_.IsStream(exchange.path);
    Reply(exchange,
          stream ? ErrorAnswer(426, "WebSocket upgrade expected")
                 : ErrorAnswer(404, "no such endpoint"),
          std::nullopt);
    return;
  }
  std::optional<AnswerFault> fault = server_.TakeFault(exchange.path);
  if (request.method() != http::verb::post) {
    Reply(exchange, ErrorAnswer(405, "use POST"), fault);
    return;
  }
  ServiceRequest serviceRequest;
  serviceRequest.path = exchange.path;
  if (question != std::string::npos) serviceRequest.query = target.substr(question + 1);
  serviceRequest.body = std::move(request.body());
  if (fault && fault->kind == AnswerFault::Kind::Wide) serviceRequest.wide = fault->count;
  Reply(exchange, server_.Handle(serviceRequest), fault);
}

template <typename Stream>
void HttpSessionOn<Stream>::Upgrade(const std::string& path, HttpRequest request) {
  handedOver_ = true;
  slot_.Release();
  StartStreamSession<Stream>(std::move(stream_), server_, path, std::move(request));
}

template <typename Stream>
void HttpSessionOn<Stream>::Reply(const Exchange& exchange, ServiceAnswer answer,
                                  std::optional<AnswerFault> fault) {
  if (!fault || fault->kind != AnswerFault::Kind::Slow) {
    Send(exchange, answer, fault);
    return;
  }
  Hold(exchange.path, *fault);
  delay_.async_wait([self = this->shared_from_this(), exchange, answer = std::move(answer),
                     fault](beast::error_code ec) {
    if (!ec && !self->dropped_) self->Send(exchange, answer, fault);
  });
}

template <typename Stream>
void HttpSessionOn<Stream>::Hold(const std::string& path, const AnswerFault& slow) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", slow.seconds);
  server_.Printer().Event("request " + path + " held=" + seconds);
  delay_.expires_after(Milliseconds(slow.seconds));
}

template <typename Stream>
void HttpSessionOn<Stream>::Send(const Exchange& exchange, const ServiceAnswer& answer,
                                 const std::optional<AnswerFault>& fault) {
  if (!answer.problem.empty()) {
    server_.Printer().Error("request " + exchange.path + ": " + answer.problem);
  }
  // The service has done its work whatever happens to the answer.
  if (answer.push) server_.SchedulePush(*answer.push);
  slot_.Release();

  auto response = std::make_shared<HttpResponse>();
  response->version(exchange.version);
  response->keep_alive(exchange.keepAlive);
  const Delivery delivery = BuildResponse(answer, fault, response.get());
  if (delivery == Delivery::Close) {
    server_.Printer().Event(RequestLine(exchange.path, 0, answer, fault));
    Close();
    return;
  }
  server_.Printer().Event(RequestLine(exchange.path, response->result_int(), answer, fault));
  if (delivery == Delivery::Truncated) {
    // The header promises the whole answer (and at least one byte more than is sent).
    const size_t promised = response->body().size() + 1;
    response->body().resize(response->body().size() / 2);
    response->set(http::field::content_length, std::to_string(promised));
    response->keep_alive(false);
    Write(response, true);
    return;
  }
  if (delivery == Delivery::EndlessHeaders) {
    EndlessHeaders(0, 0);
    return;
  }
  response->prepare_payload();
  if (delivery == Delivery::Drip) {
    std::ostringstream bytes;
    bytes << *response;
    Drip(std::make_shared<const std::string>(bytes.str()), 0, fault->seconds,
         !response->keep_alive());
    return;
  }
  Write(response, !response->keep_alive());
}

template <typename Stream>
void HttpSessionOn<Stream>::Write(std::shared_ptr<HttpResponse> response, bool closeAfter) {
  beast::get_lowest_layer(stream_).expires_after(kWriteTimeout);
  http::async_write(stream_, *response,
                    [self = this->shared_from_this(), response, closeAfter](beast::error_code ec,
                                                                            std::size_t) {
                      if (self->dropped_) return;
                      if (ec || closeAfter) {
                        self->Close();
                      } else {
                        self->Read();
                      }
                    });
}

template <typename Stream>
void HttpSessionOn<Stream>::Drip(std::shared_ptr<const std::string> bytes, size_t next,
                                 double seconds, bool closeAfter) {
  if (next >= bytes->size()) {
    if (closeAfter) {
      Close();
    } else {
      Read();
    }
    return;
  }
  beast::get_lowest_layer(stream_).expires_after(kWriteTimeout);
  asio::async_write(
      stream_, asio::buffer(bytes->data() + next, 1),
      [self = this->shared_from_this(), bytes, next, seconds, closeAfter](beast::error_code ec,
                                                                          std::size_t) {
        if (self->dropped_) return;
        if (ec) {
          self->Close();
          return;
        }
        if (next + 1 == bytes->size()) {
          self->Drip(bytes, next + 1, seconds, closeAfter);
          return;
        }
        self->delay_.expires_after(Milliseconds(seconds));
        self->delay_.async_wait([self, bytes, next, seconds, closeAfter](beast::error_code wait) {
          if (!wait && !self->dropped_) self->Drip(bytes, next + 1, seconds, closeAfter);
        });
      });
}

template <typename Stream>
void HttpSessionOn<Stream>::EndlessHeaders(size_t line, size_t sent) {
  if (sent >= kMaxEndlessHeaderBytes) {
    Close();
    return;
  }
  auto chunk = std::make_shared<std::string>(line == 0 ? "HTTP/1.1 200 OK\r\n" : "");
  *chunk += HeaderChunk(line);
  beast::get_lowest_layer(stream_).expires_after(kWriteTimeout);
  asio::async_write(stream_, asio::buffer(*chunk),
                    [self = this->shared_from_this(), chunk, line, sent](beast::error_code ec,
                                                                         std::size_t) {
                      if (self->dropped_) return;
                      if (ec) {
                        self->Close();
                        return;
                      }
                      self->EndlessHeaders(line + kHeaderChunkLines, sent + chunk->size());
                    });
}

template <typename Stream>
void HttpSessionOn<Stream>::Close() {
  slot_.Release();
  if (handedOver_) return;
  beast::error_code ignored;
  auto& tcp = beast::get_lowest_layer(stream_);
  tcp.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
  tcp.close();
}

template <typename Stream>
void HttpSessionOn<Stream>::Drop() {
  dropped_ = true;
  delay_.cancel();
  slot_.Release();
  if (!handedOver_) beast::get_lowest_layer(stream_).close();
}

}  // namespace

std::shared_ptr<HttpSession> StartHttpSession(asio::ip::tcp::socket socket, SimServer& server,
                                              asio::ssl::context* tls) {
  if (tls != nullptr) {
    auto session =
        std::make_shared<HttpSessionOn<TlsStream>>(TlsStream(std::move(socket), *tls), server);
    session->Start();
    return session;
  }
  auto session = std::make_shared<HttpSessionOn<PlainStream>>(PlainStream(std::move(socket)), server);
  session->Start();
  return session;
}

}  // namespace facesim
