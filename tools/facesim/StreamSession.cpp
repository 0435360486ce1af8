#include "tools/facesim/StreamSession.h"

#include "tools/facesim/SimServer.h"

namespace facesim {

namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace {

constexpr std::size_t kMaxClientMessage = 64 * 1024;

// A ping payload as one printable line.
std::string Printable(beast::string_view payload) {
  std::string text(payload);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

}  // namespace

StreamSession::StreamSession(boost::asio::ip::tcp::socket socket, SimServer& server,
                             std::string path)
    : ws_(std::move(socket)), server_(server), path_(std::move(path)) {}

void StreamSession::Start(beast::http::request<beast::http::string_body> request) {
  // The stream's own timeouts take over from the HTTP ones: a silent client is dropped after
  // five minutes (the clients ping every 15 seconds).
  beast::get_lowest_layer(ws_).expires_never();
  ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
  ws_.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
    response.set(beast::http::field::server, "vestrel-facesim");
  }));
  ws_.read_message_max(kMaxClientMessage);
  ws_.control_callback([this](websocket::frame_type kind, beast::string_view payload) {
    if (kind == websocket::frame_type::ping) {
      server_.Printer().Event("ws ping " + Printable(payload));
    }
  });
  // Known to the server from the handshake on, so that an outage drops it too.
  server_.StreamStarted(shared_from_this());
  ws_.async_accept(request,
                   [self = shared_from_this()](beast::error_code ec) { self->OnAccept(ec); });
}

void StreamSession::OnAccept(beast::error_code ec) {
  if (ec) {
    server_.Printer().Error("ws " + path_ + ": upgrade failed: " + ec.message());
    return;
  }
  open_ = true;
  server_.Printer().Event("ws open " + path_);
  Read();
}

void StreamSession::Read() {
  ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, std::size_t bytes) {
    self->OnRead(ec, bytes);
  });
}

void StreamSession::OnRead(beast::error_code ec, std::size_t bytes) {
  if (ec) {
    // Closed by the client, dropped, timed out or broken: reported once.
    if (open_) server_.Printer().Event("ws closed " + path_);
    open_ = false;
    outgoing_.clear();
    return;
  }
  server_.Printer().Event("ws message " + path_ + " bytes=" + std::to_string(bytes));
  buffer_.consume(buffer_.size());
  Read();
}

bool StreamSession::Send(std::shared_ptr<const std::string> message) {
  if (!open_) return false;
  outgoing_.push_back(std::move(message));
  if (outgoing_.size() == 1) Write();
  return true;
}

void StreamSession::Write() {
  ws_.text(true);
  // The handler holds the message: a failed read may empty the queue while it is written.
  const std::shared_ptr<const std::string> message = outgoing_.front();
  ws_.async_write(boost::asio::buffer(*message),
                  [self = shared_from_this(), message](beast::error_code ec, std::size_t) {
                    if (ec || self->outgoing_.empty()) {
                      self->outgoing_.clear();
                      return;
                    }
                    self->outgoing_.pop_front();
                    if (!self->outgoing_.empty()) self->Write();
                  });
}

void StreamSession::Drop() { beast::get_lowest_layer(ws_).close(); }

}  // namespace facesim
