#include "metrics/MetricsSession.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/stream_traits.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <memory>
#include <optional>
#include <type_traits>

#include "metrics/MetricsListener.h"
#include "metrics/MetricsRouter.h"

namespace metrics {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
using boost::system::error_code;
using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

// What the read buffer may hold: a request's headers and body at their limits.
constexpr std::size_t kMaxBuffered =
    MetricsListener::kMaxHeaderBytes + MetricsListener::kMaxRequestBody;

template <class Stream>
class Session : public std::enable_shared_from_this<Session<Stream>> {
  static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;

 public:
  template <class... StreamArgs>
  Session(MetricsRouter& router, ConnectionSlot slot, StreamArgs&&... streamArgs)
      : stream_(std::forward<StreamArgs>(streamArgs)...),
        buffer_(kMaxBuffered),
        router_(router),
        slot_(std::move(slot)) {}

  // The deadline of the first request also covers the handshake.
  void Start() {
    StartDeadline();
    if constexpr (kTls) {
      stream_.async_handshake(boost::asio::ssl::stream_base::server,
                              [self = this->shared_from_this()](error_code ec) {
                                if (ec) return self->Close();
                                self->Read();
                              });
    } else {
      Read();
    }
  }

 private:
  void StartDeadline() {
    beast::get_lowest_layer(stream_).expires_after(
        std::chrono::seconds(MetricsListener::kRequestDeadlineSeconds));
  }

  void Read() {
    parser_.emplace();
    parser_->header_limit(MetricsListener::kMaxHeaderBytes);
    parser_->body_limit(MetricsListener::kMaxRequestBody);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = this->shared_from_this()](error_code ec, std::size_t) { self->OnRead(ec); });
  }

  void OnRead(error_code ec) {
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
      return Write(MetricsRouter::Refusal(http::status::request_header_fields_too_large));
    }
    if (ec == http::error::body_limit) {
      return Write(MetricsRouter::Refusal(http::status::payload_too_large));
    }
    if (ec == http::error::end_of_stream || ec == http::error::partial_message) return Close();
    if (ec && ec.category() == make_error_code(http::error::bad_target).category()) {
      return Write(MetricsRouter::Refusal(http::status::bad_request));
    }
    if (ec) return Close();  // the deadline, or the connection ended
    Write(router_.Answer(parser_->get()));
  }

  void Write(HttpResponse response) {
    response_ = std::move(response);
    http::async_write(stream_, response_,
                      [self = this->shared_from_this()](error_code ec, std::size_t) {
                        if (ec || !self->response_.keep_alive()) return self->Close();
                        self->StartDeadline();
                        self->Read();
                      });
  }

  // Within what is left of the deadline.
  void Close() {
    if constexpr (kTls) {
      stream_.async_shutdown([self = this->shared_from_this()](error_code) {
        error_code ignored;
        beast::get_lowest_layer(self->stream_).socket().close(ignored);
      });
    } else {
      error_code ignored;
      stream_.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
      stream_.socket().close(ignored);
    }
  }

  Stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  HttpResponse response_;
  MetricsRouter& router_;
  ConnectionSlot slot_;
};

}  // namespace

void StartSession(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context* tls,
                  MetricsRouter& router, ConnectionSlot slot) {
  if (tls != nullptr) {
    std::make_shared<Session<TlsStream>>(router, std::move(slot), std::move(socket), *tls)->Start();
  } else {
    std::make_shared<Session<PlainStream>>(router, std::move(slot), std::move(socket))->Start();
  }
}

}  // namespace metrics
