#include "sdk/DeviceLink.h"

#include <utility>

#include "sdk/HCNetSDK.h"

namespace sdkstandin {

using sdkwire::FrameType;

namespace {

bool IsReply(FrameType type) {
  switch (type) {
    case FrameType::LoginReply:
    case FrameType::ConfigReply:
    case FrameType::PingReply:
    case FrameType::SubscribeReply:
    case FrameType::UnsubscribeReply:
      return true;
    default:
      return false;
  }
}

}  // namespace

DeviceLink::DeviceLink(boost::asio::io_context& io, AlarmSink sink)
    : connection_(std::make_shared<sdkwire::FramedConnection>(io, sdkwire::Direction::FromDevice)),
      sink_(std::move(sink)) {}

uint32_t DeviceLink::Connect(const boost::asio::ip::tcp::endpoint& endpoint,
                             std::chrono::milliseconds timeout) {
  auto done = std::make_shared<std::promise<boost::system::error_code>>();
  std::future<boost::system::error_code> result = done->get_future();
  connection_->AsyncConnect(endpoint, timeout,
                            [done](const boost::system::error_code& ec) { done->set_value(ec); });
  // The connect timer ends the attempt; the extra second only covers a stalled io thread.
  if (result.wait_for(timeout + std::chrono::seconds(1)) != std::future_status::ready) {
    Close();
    return NET_DVR_NETWORK_FAIL_CONNECT;
  }
  boost::system::error_code ec;
  try {
    ec = result.get();
  } catch (const std::future_error&) {
    ec = boost::asio::error::operation_aborted;  // the io thread went away
  }
  if (ec) {
    Close();
    return NET_DVR_NETWORK_FAIL_CONNECT;
  }
  std::weak_ptr<DeviceLink> weak = shared_from_this();
  sdkwire::FramedConnection::Handlers handlers;
  handlers.onFrame = [weak](const sdkwire::FrameHeader& header, std::vector<uint8_t> payload) {
    if (auto self = weak.lock()) self->OnFrame(header, std::move(payload));
  };
  handlers.onClosed = [weak](sdkwire::CloseCause cause, const std::string&) {
    if (auto self = weak.lock()) self->OnClosed(cause);
  };
  connection_->Start(std::move(handlers));
  return 0;
}

DeviceLink::~DeviceLink() { connection_->Close("link released"); }

uint32_t DeviceLink::Request(FrameType type, const std::vector<uint8_t>& body, FrameType replyType,
                             std::vector<uint8_t>* replyBody, std::chrono::milliseconds timeout) {
  return Send(type, body, replyType, -1, replyBody, timeout);
}

uint32_t DeviceLink::Subscribe(int32_t alarmHandle, std::vector<uint8_t>* replyBody,
                               std::chrono::milliseconds timeout) {
  return Send(FrameType::SubscribeRequest, sdkwire::Encode(sdkwire::ValueRequest{}),
              FrameType::SubscribeReply, alarmHandle, replyBody, timeout);
}

uint32_t DeviceLink::Send(FrameType type, const std::vector<uint8_t>& body, FrameType replyType,
                          int32_t subscribeHandle, std::vector<uint8_t>* replyBody,
                          std::chrono::milliseconds timeout) {
  auto pending = std::make_shared<Pending>();
  pending->replyType = replyType;
  pending->subscribeHandle = subscribeHandle;
  std::future<Reply> result = pending->promise.get_future();
  uint32_t sequence = 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!alive_) return closeError_;
    sequence = nextSequence_++;
    pending_[sequence] = pending;
  }
  connection_->Send(sdkwire::MakeFrame(type, sdkwire::WithSequence(sequence, body)));
  if (result.wait_for(timeout) != std::future_status::ready) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (pending_.erase(sequence) == 1) return NET_DVR_TIMEOUT;
    // The reply arrived just now: the promise is set, take it below.
  }
  Reply reply = result.get();
  if (reply.error != 0) return reply.error;
  if (replyBody) *replyBody = std::move(reply.body);
  return 0;
}

void DeviceLink::UnmapChannel(uint32_t deviceChannel) {
  std::lock_guard<std::mutex> guard(mutex_);
  channels_.erase(deviceChannel);
}

void DeviceLink::Logout() {
  connection_->Send(sdkwire::MakeFrame(FrameType::Logout, {}), true);
  Fail(NET_DVR_CONNECTION_LOST, "logged out");
}

void DeviceLink::Close() {
  Fail(NET_DVR_CONNECTION_LOST, "closed");
  connection_->Close("closed by the library");
}

bool DeviceLink::Alive() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return alive_;
}

void DeviceLink::OnFrame(const sdkwire::FrameHeader& header, std::vector<uint8_t> payload) {
  if (header.version != sdkwire::kVersion) {
    Fail(NET_DVR_VERSION_MISMATCH, "version mismatch");
    connection_->Close("version mismatch");
    return;
  }
  const auto type = static_cast<FrameType>(header.type);
  if (type == FrameType::Alarm) {
    sdkwire::AlarmFrame alarm;
    if (!sdkwire::Decode(payload, &alarm)) {
      Fail(NET_DVR_PROTOCOL_ERROR, "malformed alarm");
      connection_->Close("malformed alarm", sdkwire::CloseCause::BadFrame);
      return;
    }
    int32_t handle = -1;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      auto it = channels_.find(alarm.channel);
      if (it != channels_.end()) handle = it->second;
    }
    if (handle >= 0 && !sink_(handle, std::move(alarm))) {
      Fail(NET_DVR_PROTOCOL_ERROR, "malformed alarm body");
      connection_->Close("malformed alarm body", sdkwire::CloseCause::BadFrame);
    }
    return;
  }
  uint32_t sequence = 0;
  std::vector<uint8_t> body;
  if (!IsReply(type) || !sdkwire::SplitSequence(payload, &sequence, &body)) {
    Fail(NET_DVR_PROTOCOL_ERROR, "malformed reply");
    connection_->Close("malformed reply", sdkwire::CloseCause::BadFrame);
    return;
  }
  std::shared_ptr<Pending> pending;
  Reply reply;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = pending_.find(sequence);
    if (it == pending_.end()) return;  // its caller gave up waiting
    pending = it->second;
    pending_.erase(it);
    if (type != pending->replyType) {
      reply.error = NET_DVR_PROTOCOL_ERROR;
    } else if (pending->subscribeHandle >= 0) {
      sdkwire::ValueReply accepted;
      if (sdkwire::Decode(body, &accepted) && accepted.status == sdkwire::Status::Ok) {
        channels_[accepted.value] = pending->subscribeHandle;
      }
    }
  }
  if (reply.error == 0) reply.body = std::move(body);
  pending->promise.set_value(std::move(reply));
}

void DeviceLink::OnClosed(sdkwire::CloseCause cause) {
  Fail(cause == sdkwire::CloseCause::BadFrame ? NET_DVR_PROTOCOL_ERROR : NET_DVR_CONNECTION_LOST,
       "connection closed");
}

void DeviceLink::Fail(uint32_t error, const std::string&) {
  std::map<uint32_t, std::shared_ptr<Pending>> waiting;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!alive_) return;
    alive_ = false;
    closeError_ = error;
    waiting.swap(pending_);
    channels_.clear();
  }
  for (auto& entry : waiting) {
    Reply reply;
    reply.error = error;
    entry.second->promise.set_value(std::move(reply));
  }
}

}  // namespace sdkstandin
