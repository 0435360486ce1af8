#include "sdk/FramedConnection.h"

#include <utility>

namespace sdkwire {

namespace asio = boost::asio;
using boost::system::error_code;

FramedConnection::FramedConnection(asio::io_context& io, Direction incoming)
    : socket_(io), connectTimer_(io), incoming_(incoming) {}

FramedConnection::FramedConnection(asio::ip::tcp::socket socket, Direction incoming)
    : socket_(std::move(socket)), connectTimer_(socket_.get_executor()), incoming_(incoming) {}

void FramedConnection::AsyncConnect(const asio::ip::tcp::endpoint& endpoint,
                                    std::chrono::milliseconds timeout,
                                    std::function<void(const error_code&)> done) {
  auto self = shared_from_this();
  asio::post(socket_.get_executor(), [self, endpoint, timeout, done = std::move(done)]() {
    if (self->closed_) {
      done(asio::error::operation_aborted);
      return;
    }
    auto timedOut = std::make_shared<bool>(false);
    self->connectTimer_.expires_after(timeout);
    self->connectTimer_.async_wait([self, timedOut](const error_code& ec) {
      if (ec) return;
      *timedOut = true;
      error_code ignored;
      self->socket_.close(ignored);
    });
    self->socket_.async_connect(endpoint, [self, timedOut, done](const error_code& ec) {
      self->connectTimer_.cancel();
      if (*timedOut) {
        done(asio::error::timed_out);
      } else if (!ec && self->closed_) {
        done(asio::error::operation_aborted);
      } else {
        done(ec);
      }
    });
  });
}

void FramedConnection::Start(Handlers handlers) {
  auto self = shared_from_this();
  asio::post(socket_.get_executor(), [self, handlers = std::move(handlers)]() mutable {
    if (self->started_) return;
    self->started_ = true;
    if (self->closed_) {
      if (handlers.onClosed) handlers.onClosed(CloseCause::Local, "closed before start");
      return;
    }
    self->handlers_ = std::move(handlers);
    error_code ignored;
    self->socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    self->ReadHeader();
  });
}

void FramedConnection::Send(std::vector<uint8_t> frame, bool closeAfter) {
  auto self = shared_from_this();
  asio::post(socket_.get_executor(), [self, frame = std::move(frame), closeAfter]() mutable {
    if (self->closed_ || self->closeAfterWrite_) return;
    self->queuedBytes_ += frame.size();
    if (self->queuedBytes_ > kMaxQueuedBytes) {
      self->CloseNow(CloseCause::NetworkError, "peer does not read (send queue full)");
      return;
    }
    self->sendQueue_.push_back(std::move(frame));
    if (closeAfter) {
      self->closeAfterWrite_ = true;
      // A peer that does not read must not keep the connection open for ever.
      self->connectTimer_.expires_after(kLinger);
      self->connectTimer_.async_wait([self](const error_code& ec) {
        if (!ec) self->CloseNow(CloseCause::Local, "last frame not taken in time");
      });
    }
    if (!self->writing_) self->WriteNext();
  });
}

void FramedConnection::Close(const std::string& reason, CloseCause cause) {
  auto self = shared_from_this();
  asio::post(socket_.get_executor(), [self, reason, cause]() { self->CloseNow(cause, reason); });
}

void FramedConnection::ReadHeader() {
  auto self = shared_from_this();
  asio::async_read(socket_, asio::buffer(headerBytes_), [self](const error_code& ec, std::size_t) {
    if (self->closed_) return;
    if (ec) {
      self->CloseNow(ec == asio::error::eof ? CloseCause::PeerClosed : CloseCause::NetworkError,
                     ec == asio::error::eof ? "closed by peer" : ec.message());
      return;
    }
    self->header_ = DecodeHeader(self->headerBytes_);
    const HeaderCheck check = CheckHeader(self->header_, self->incoming_);
    if (check == HeaderCheck::VersionMismatch) {
      if (self->handlers_.onFrame) self->handlers_.onFrame(self->header_, {});
      return;
    }
    if (check != HeaderCheck::Ok) {
      self->CloseNow(CloseCause::BadFrame, HeaderCheckText(check));
      return;
    }
    self->ReadPayload();
  });
}

void FramedConnection::ReadPayload() {
  payload_.assign(header_.length, 0);
  auto self = shared_from_this();
  auto deliver = [self]() {
    if (self->handlers_.onFrame) self->handlers_.onFrame(self->header_, std::move(self->payload_));
    self->payload_.clear();
    if (!self->closed_) self->ReadHeader();
  };
  if (header_.length == 0) {
    deliver();
    return;
  }
  asio::async_read(
      socket_, asio::buffer(payload_), [self, deliver](const error_code& ec, std::size_t) {
        if (self->closed_) return;
        if (ec) {
          self->CloseNow(CloseCause::NetworkError,
                         ec == asio::error::eof ? "closed by peer in a frame" : ec.message());
          return;
        }
        deliver();
      });
}

void FramedConnection::WriteNext() {
  if (sendQueue_.empty()) {
    writing_ = false;
    if (closeAfterWrite_) CloseNow(CloseCause::Local, "closed after last frame");
    return;
  }
  writing_ = true;
  auto self = shared_from_this();
  asio::async_write(socket_, asio::buffer(sendQueue_.front()),
                    [self](const error_code& ec, std::size_t) {
                      if (self->closed_) return;
                      if (ec) {
                        self->CloseNow(CloseCause::NetworkError, ec.message());
                        return;
                      }
                      self->queuedBytes_ -= self->sendQueue_.front().size();
                      self->sendQueue_.pop_front();
                      self->WriteNext();
                    });
}

void FramedConnection::CloseNow(CloseCause cause, const std::string& reason) {
  if (closed_) return;
  closed_ = true;
  error_code ignored;
  connectTimer_.cancel();
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  sendQueue_.clear();
  queuedBytes_ = 0;
  // The handlers may hold the owner; letting them go here breaks that cycle.
  Handlers handlers = std::move(handlers_);
  handlers_ = Handlers();
  if (handlers.onClosed) handlers.onClosed(cause, reason);
}

}  // namespace sdkwire
