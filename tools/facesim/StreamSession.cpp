#include "tools/facesim/StreamSession.h"

#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <deque>

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

template <typename Stream>
class StreamSessionOn final : public StreamSession,
                              public std::enable_shared_from_this<StreamSessionOn<Stream>> {
 public:
  StreamSessionOn(Stream stream, SimServer& server, const std::string& path)
      : StreamSession(path), ws_(std::move(stream)), server_(server) {}

  void Start(HttpRequest request);
  bool Send(std::shared_ptr<const std::string> message) override;
  void Drop() override { beast::get_lowest_layer(ws_).close(); }
  bool Stall() override;

 private:
  void OnAccept(beast::error_code ec);
  void Read();
  void OnRead(beast::error_code ec, std::size_t bytes);
  void Write();

  websocket::stream<Stream> ws_;
  beast::flat_buffer buffer_;
  SimServer& server_;
  std::deque<std::shared_ptr<const std::string>> outgoing_;  // front is being written
  bool open_ = false;
  bool stalled_ = false;
};

template <typename Stream>
void StreamSessionOn<Stream>::Start(HttpRequest request) {
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
  server_.StreamStarted(this->shared_from_this());
  ws_.async_accept(request,
                   [self = this->shared_from_this()](beast::error_code ec) { self->OnAccept(ec); });
}

template <typename Stream>
void StreamSessionOn<Stream>::OnAccept(beast::error_code ec) {
  if (ec) {
    server_.Printer().Error("ws " + Path() + ": upgrade failed: " + ec.message());
    return;
  }
  open_ = true;
  server_.Printer().Event("ws open " + Path());
  Read();
}

template <typename Stream>
void StreamSessionOn<Stream>::Read() {
  ws_.async_read(buffer_, [self = this->shared_from_this()](beast::error_code ec,
                                                            std::size_t bytes) {
    self->OnRead(ec, bytes);
  });
}

template <typename Stream>
void StreamSessionOn<Stream>::OnRead(beast::error_code ec, std::size_t bytes) {
  if (stalled_) return;
  if (ec) {
    // Closed by the client, dropped, timed out or broken: reported once.
    if (open_) server_.Printer().Event("ws closed " + Path());
    open_ = false;
    outgoing_.clear();
    return;
  }
  server_.Printer().Event("ws message " + Path() + " bytes=" + std::to_string(bytes));
  buffer_.consume(buffer_.size());
  Read();
}

template <typename Stream>
bool StreamSessionOn<Stream>::Stall() {
  if (!open_) return false;
  open_ = false;
  stalled_ = true;
  outgoing_.clear();
  // The read in progress ends with an error that leaves the socket open; no other read
  // follows, so a ping that arrives now stays in the socket, unanswered.
  beast::get_lowest_layer(ws_).cancel();
  return true;
}

template <typename Stream>
bool StreamSessionOn<Stream>::Send(std::shared_ptr<const std::string> message) {
  if (!open_) return false;
  outgoing_.push_back(std::move(message));
  if (outgoing_.size() == 1) Write();
  return true;
}

template <typename Stream>
void StreamSessionOn<Stream>::Write() {
  ws_.text(true);
  // The handler holds the message: a failed read may empty the queue while it is written.
  const std::shared_ptr<const std::string> message = outgoing_.front();
  ws_.async_write(boost::asio::buffer(*message), [self = this->shared_from_this(), message](
                                                     beast::error_code ec, std::size_t) {
    if (ec || self->outgoing_.empty()) {
      self->outgoing_.clear();
      return;
    }
    self->outgoing_.pop_front();
    if (!self->outgoing_.empty()) self->Write();
  });
}

}  // namespace

template <typename Stream>
void StartStreamSession(Stream stream, SimServer& server, const std::string& path,
                        HttpRequest request) {
  std::make_shared<StreamSessionOn<Stream>>(std::move(stream), server, path)
      ->Start(std::move(request));
}

template void StartStreamSession<PlainStream>(PlainStream, SimServer&, const std::string&,
                                              HttpRequest);
template void StartStreamSession<TlsStream>(TlsStream, SimServer&, const std::string&,
                                            HttpRequest);

}  // namespace facesim
