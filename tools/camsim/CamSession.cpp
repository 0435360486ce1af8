#include "tools/camsim/CamSession.h"

#include "tools/camsim/SimDevice.h"

namespace camsim {

using sdkwire::FrameType;
using sdkwire::Status;

namespace {

std::string PeerText(const boost::asio::ip::tcp::socket& socket) {
  boost::system::error_code ec;
  const auto endpoint = socket.remote_endpoint(ec);
  if (ec) return "?";
  return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

}  // namespace

CamSession::CamSession(boost::asio::io_context& io, boost::asio::ip::tcp::socket socket,
                       SimDevice& device)
    : device_(device),
      peer_(PeerText(socket)),
      connection_(std::make_shared<sdkwire::FramedConnection>(std::move(socket),
                                                              sdkwire::Direction::ToDevice)),
      loginTimer_(io) {}

void CamSession::Start() {
  // The device owns its sessions; the connection only refers back to this one.
  std::weak_ptr<CamSession> weak = shared_from_this();
  sdkwire::FramedConnection::Handlers handlers;
  handlers.onFrame = [weak](const sdkwire::FrameHeader& header, std::vector<uint8_t> payload) {
    if (auto self = weak.lock()) self->OnFrame(header, std::move(payload));
  };
  handlers.onClosed = [weak](sdkwire::CloseCause cause, const std::string& reason) {
    if (auto self = weak.lock()) self->OnClosed(cause, reason);
  };
  connection_->Start(std::move(handlers));
  loginTimer_.expires_after(std::chrono::seconds(device_.Options().loginTimeoutSeconds));
  loginTimer_.async_wait([weak](const boost::system::error_code& ec) {
    auto self = weak.lock();
    if (!ec && self && !self->loggedIn_) self->Drop("no login in time");
  });
}

bool CamSession::SendAlarm(uint32_t command, const std::vector<uint8_t>& body) {
  if (ended_ || !channelOpen_) return false;
  sdkwire::AlarmFrame alarm;
  alarm.channel = channel_;
  alarm.command = command;
  alarm.body = body;
  Send(FrameType::Alarm, sdkwire::Encode(alarm));
  return true;
}

void CamSession::Drop(const std::string& reason) { connection_->Close(reason); }

void CamSession::Send(FrameType type, const std::vector<uint8_t>& payload, bool closeAfter) {
  const uint16_t version =
      device_.Options().versionMismatch ? sdkwire::kVersion + 1 : sdkwire::kVersion;
  connection_->Send(sdkwire::MakeFrame(type, payload, version), closeAfter);
}

void CamSession::Reply(FrameType type, uint32_t sequence, const std::vector<uint8_t>& body,
                       bool closeAfter) {
  Send(type, sdkwire::WithSequence(sequence, body), closeAfter);
}

void CamSession::Violation(const std::string& what) {
  connection_->Close(what, sdkwire::CloseCause::BadFrame);
}

void CamSession::OnFrame(const sdkwire::FrameHeader& header, std::vector<uint8_t> payload) {
  if (ended_) return;
  if (header.version != sdkwire::kVersion) {
    device_.Printer().Error("connection from " + peer_ + " speaks protocol version " +
                            std::to_string(header.version));
    sdkwire::LoginReply reply;
    reply.status = Status::VersionMismatch;
    Reply(FrameType::LoginReply, 0, sdkwire::Encode(reply), true);
    return;
  }
  uint32_t sequence = 0;
  std::vector<uint8_t> body;
  const auto type = static_cast<FrameType>(header.type);
  if (type == FrameType::Logout) {
    connection_->Close("logout");
    return;
  }
  if (!sdkwire::SplitSequence(payload, &sequence, &body)) {
    Violation("request without a sequence number");
    return;
  }
  if (type == FrameType::LoginRequest) {
    OnLogin(sequence, body);
    return;
  }
  if (!loggedIn_) {
    Violation("request before login");
    return;
  }
  sdkwire::ValueRequest request;
  if (!sdkwire::Decode(body, &request)) {
    Violation("malformed request");
    return;
  }
  switch (type) {
    case FrameType::ConfigRequest: {
      sdkwire::ConfigReply reply;
      if (request.value != 1062) {
        reply.status = Status::Unsupported;
      } else {
        const CamSimOptions& options = device_.Options();
        reply.firstIpChannel = 33;
        for (bool enabled : options.analogEnabled) reply.analogEnabled.push_back(enabled ? 1 : 0);
        for (bool enabled : options.ipEnabled) reply.ipEnabled.push_back(enabled ? 1 : 0);
      }
      Reply(FrameType::ConfigReply, sequence, sdkwire::Encode(reply));
      break;
    }
    case FrameType::PingRequest:
      Reply(FrameType::PingReply, sequence, sdkwire::Encode(sdkwire::ValueReply{}));
      break;
    case FrameType::SubscribeRequest: {
      sdkwire::ValueReply reply;
      if (channelOpen_) {
        reply.status = Status::Refused;
      } else {
        channelOpen_ = true;
        channel_ = device_.OpenChannel();
        reply.value = channel_;
      }
      Reply(FrameType::SubscribeReply, sequence, sdkwire::Encode(reply));
      break;
    }
    case FrameType::UnsubscribeRequest: {
      sdkwire::ValueReply reply;
      if (channelOpen_ && request.value == channel_) {
        channelOpen_ = false;
        device_.CloseChannel();
      } else {
        reply.status = Status::Refused;
      }
      Reply(FrameType::UnsubscribeReply, sequence, sdkwire::Encode(reply));
      break;
    }
    default:
      Violation("unexpected request");
      break;
  }
}

void CamSession::OnLogin(uint32_t sequence, const std::vector<uint8_t>& body) {
  sdkwire::LoginRequest request;
  if (loggedIn_ || !sdkwire::Decode(body, &request)) {
    Violation(loggedIn_ ? "second login on one connection" : "malformed login");
    return;
  }
  const CamSimOptions& options = device_.Options();
  sdkwire::LoginReply reply;
  std::string failure;
  if (options.versionMismatch) {
    reply.status = Status::VersionMismatch;
    failure = "version";
  } else if (!device_.CheckCredentials(request.user, request.password)) {
    reply.status = Status::BadCredentials;
    failure = "password";
  } else if (!device_.TakeLink()) {
    reply.status = Status::TooManyLinks;
    failure = "max-links";
  }
  if (!failure.empty()) {
    device_.Printer().Event("login failed user=" + request.user + " reason=" + failure);
    Reply(FrameType::LoginReply, sequence, sdkwire::Encode(reply), true);
    return;
  }
  loggedIn_ = true;
  user_ = request.user;
  loginTimer_.cancel();
  reply.analogChannels = static_cast<uint8_t>(options.analogChannels);
  reply.firstAnalogChannel = 1;
  reply.ipChannels = static_cast<uint8_t>(options.ipChannels);
  reply.firstIpChannel = 33;
  device_.Printer().Event("login user=" + user_);
  Reply(FrameType::LoginReply, sequence, sdkwire::Encode(reply));
}

void CamSession::OnClosed(sdkwire::CloseCause cause, const std::string& reason) {
  if (ended_) return;
  ended_ = true;
  loginTimer_.cancel();
  if (cause == sdkwire::CloseCause::BadFrame) {
    device_.Printer().Error("closed connection from " + peer_ + ": " + reason);
  }
  if (channelOpen_) {
    channelOpen_ = false;
    device_.CloseChannel();
  }
  if (loggedIn_) {
    device_.ReleaseLink();
    device_.Printer().Event("logout");
  }
  device_.Forget(shared_from_this());
}

}  // namespace camsim
