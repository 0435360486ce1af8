#include "tools/facesim/HttpSession.h"

#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>

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
constexpr size_t kHugeBody = 5 * 1024 * 1024;
constexpr int kDeepNesting = 100000;
// Not JSON, and not even UTF-8 throughout (0xC3 0x28 is a broken sequence).
constexpr const char* kGarbageBody = "<html><body>not json \xC3\x28 {{{ ]]]</body></html>";

// The usual answer with a "padding" member that brings it to 5 MiB.
std::string Padded(const std::string& body) {
  std::string padded = body.size() >= 2 && body.back() == '}' ? body : std::string("{}");
  padded.pop_back();
  padded += padded.size() > 1 ? ",\"padding\":\"" : "\"padding\":\"";
  const size_t tail = 2;  // the closing quote and brace
  if (padded.size() + tail < kHugeBody) padded.append(kHugeBody - padded.size() - tail, 'x');
  return padded + "\"}";
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

}  // namespace

HttpSession::HttpSession(asio::ip::tcp::socket socket, SimServer& server)
    : stream_(std::move(socket)), delay_(stream_.get_executor()), server_(server) {}

void HttpSession::Read() {
  parser_.emplace();
  parser_->body_limit(kMaxRequestBody);
  stream_.expires_after(kIdleTimeout);
  http::async_read(
      stream_, buffer_, *parser_,
      [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
}

void HttpSession::OnRead(beast::error_code ec) {
  if (dropped_) return;
  if (ec == http::error::end_of_stream || ec == http::error::partial_message) {
    Close();
    return;
  }
  if (ec && ec.category() == beast::http::make_error_code(http::error::bad_method).category()) {
    RefuseMalformed(ec);
    return;
  }
  if (ec) {  // timed out, reset, dropped
    Close();
    return;
  }
  Serve(parser_->release());
}

void HttpSession::RefuseMalformed(beast::error_code ec) {
  Exchange exchange;
  exchange.path = "-";
  if (parser_->is_header_done()) {
    const auto target = parser_->get().target();
    exchange.path = std::string(target.substr(0, target.find('?')));
  }
  const int status = ec == http::error::body_limit     ? 413
                     : ec == http::error::header_limit ? 431
                                                       : 400;
  ServiceAnswer answer = ErrorAnswer(status, "malformed HTTP request: " + ec.message());
  answer.problem = "malformed HTTP request: " + ec.message();
  Send(exchange, answer, std::nullopt);
}

void HttpSession::Serve(Request request) {
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
      auto shared = std::make_shared<Request>(std::move(request));
      delay_.async_wait(
          [self = shared_from_this(), shared, exchange, fault](beast::error_code waitError) {
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
  Reply(exchange, server_.Handle(serviceRequest), fault);
}

void HttpSession::Upgrade(const std::string& path, Request request) {
  auto session = std::make_shared<StreamSession>(stream_.release_socket(), server_, path);
  session->Start(std::move(request));
}

void HttpSession::Reply(const Exchange& exchange, ServiceAnswer answer,
                        std::optional<AnswerFault> fault) {
  if (!fault || fault->kind != AnswerFault::Kind::Slow) {
    Send(exchange, answer, fault);
    return;
  }
  Hold(exchange.path, *fault);
  delay_.async_wait([self = shared_from_this(), exchange, answer = std::move(answer),
                     fault](beast::error_code ec) {
    if (!ec && !self->dropped_) self->Send(exchange, answer, fault);
  });
}

void HttpSession::Hold(const std::string& path, const AnswerFault& slow) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", slow.seconds);
  server_.Printer().Event("request " + path + " held=" + seconds);
  delay_.expires_after(std::chrono::milliseconds(static_cast<int64_t>(slow.seconds * 1000)));
}

void HttpSession::Send(const Exchange& exchange, const ServiceAnswer& answer,
                       const std::optional<AnswerFault>& fault) {
  if (!answer.problem.empty()) {
    server_.Printer().Error("request " + exchange.path + ": " + answer.problem);
  }
  // The service has done its work whatever happens to the answer.
  if (answer.push) server_.SchedulePush(*answer.push);

  auto response = std::make_shared<Response>();
  response->version(exchange.version);
  response->result(static_cast<unsigned>(answer.status));
  response->set(http::field::server, "vestrel-facesim");
  response->set(http::field::content_type, "application/json");
  response->body() = answer.body;
  response->keep_alive(exchange.keepAlive);
  bool truncated = false;
  if (fault) {
    switch (fault->kind) {
      case AnswerFault::Kind::Status:
        response->result(static_cast<unsigned>(fault->status));
        response->body() = ErrorAnswer(fault->status, "status set by the script").body;
        break;
      case AnswerFault::Kind::Garbage:
        response->result(http::status::ok);
        response->set(http::field::content_type, "text/html");
        response->body() = kGarbageBody;
        break;
      case AnswerFault::Kind::Empty:
        response->result(http::status::ok);
        response->body().clear();
        break;
      case AnswerFault::Kind::Deep:
        response->result(http::status::ok);
        response->body() = std::string(kDeepNesting, '[') + std::string(kDeepNesting, ']');
        break;
      case AnswerFault::Kind::Huge:
        response->body() = Padded(answer.body);
        break;
      case AnswerFault::Kind::Body:
        response->result(http::status::ok);
        response->body() = fault->body;
        break;
      case AnswerFault::Kind::Close:
        server_.Printer().Event(RequestLine(exchange.path, 0, answer, fault));
        Close();
        return;
      case AnswerFault::Kind::Truncated:
        truncated = true;
        break;
      case AnswerFault::Kind::Slow:
        break;
    }
  }
  server_.Printer().Event(RequestLine(exchange.path, response->result_int(), answer, fault));
  if (truncated) {
    // The header promises the whole answer (and at least one byte more than is sent).
    const size_t promised = response->body().size() + 1;
    response->body().resize(response->body().size() / 2);
    response->set(http::field::content_length, std::to_string(promised));
    response->keep_alive(false);
    Write(response, true);
    return;
  }
  response->prepare_payload();
  Write(response, !response->keep_alive());
}

void HttpSession::Write(std::shared_ptr<Response> response, bool closeAfter) {
  stream_.expires_after(kWriteTimeout);
  http::async_write(
      stream_, *response,
      [self = shared_from_this(), response, closeAfter](beast::error_code ec, std::size_t) {
        if (self->dropped_) return;
        if (ec || closeAfter) {
          self->Close();
        } else {
          self->Read();
        }
      });
}

void HttpSession::Close() {
  beast::error_code ignored;
  stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
  stream_.close();
}

void HttpSession::Drop() {
  dropped_ = true;
  delay_.cancel();
  stream_.close();
}

}  // namespace facesim
