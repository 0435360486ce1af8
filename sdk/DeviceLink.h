// The library's connection to one device: a bounded connect, requests paired with their
// replies by sequence number, and alarms on subscribed channels handed to a sink.
// Connect, Request, Subscribe, UnmapChannel, Logout and Close may be called from any
// thread (Request blocks the caller, never the io thread); frame handling runs on the io
// thread. mutex_ guards everything below it.
#pragma once

#include <boost/asio.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "sdk/FramedConnection.h"
#include "sdk/WireMessages.h"

namespace sdkstandin {

class DeviceLink : public std::enable_shared_from_this<DeviceLink> {
 public:
  // Gets each alarm of a mapped channel, on the io thread, with the alarm handle the channel
  // is mapped to; returns false for a malformed alarm, which closes the link.
  using AlarmSink = std::function<bool(int32_t alarmHandle, sdkwire::AlarmFrame&& alarm)>;

  DeviceLink(boost::asio::io_context& io, AlarmSink sink);
  ~DeviceLink();
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  // 0, or NET_DVR_NETWORK_FAIL_CONNECT when the device did not take the connection in time.
  uint32_t Connect(const boost::asio::ip::tcp::endpoint& endpoint,
                   std::chrono::milliseconds timeout);
  // Sends a request and waits for its reply. 0 with the reply body, or a library error code:
  // NET_DVR_TIMEOUT, NET_DVR_CONNECTION_LOST, NET_DVR_PROTOCOL_ERROR, NET_DVR_VERSION_MISMATCH.
  uint32_t Request(sdkwire::FrameType type, const std::vector<uint8_t>& body,
                   sdkwire::FrameType replyType, std::vector<uint8_t>* replyBody,
                   std::chrono::milliseconds timeout);
  // Opens an alarm channel: its alarms go to the sink under alarmHandle from the moment the
  // device's reply is read, before any alarm that follows it. 0 with the reply body, or an
  // error code as for Request.
  uint32_t Subscribe(int32_t alarmHandle, std::vector<uint8_t>* replyBody,
                     std::chrono::milliseconds timeout);
  void UnmapChannel(uint32_t deviceChannel);
  // Tells the device goodbye and closes once that is written.
  void Logout();
  void Close();
  // False once the connection has closed for any reason.
  bool Alive() const;

 private:
  struct Reply {
    uint32_t error = 0;
    std::vector<uint8_t> body;
  };
  struct Pending {
    sdkwire::FrameType replyType;
    int32_t subscribeHandle = -1;  // alarm handle to map when an accepting reply arrives
    std::promise<Reply> promise;
  };

  uint32_t Send(sdkwire::FrameType type, const std::vector<uint8_t>& body,
                sdkwire::FrameType replyType, int32_t subscribeHandle,
                std::vector<uint8_t>* replyBody, std::chrono::milliseconds timeout);
  void OnFrame(const sdkwire::FrameHeader& header, std::vector<uint8_t> payload);
  void OnClosed(sdkwire::CloseCause cause);
  // Ends the link with this error for every waiting request.
  void Fail(uint32_t error, const std::string& reason);

  const std::shared_ptr<sdkwire::FramedConnection> connection_;
  const AlarmSink sink_;

  mutable std::mutex mutex_;
  bool alive_ = true;
  uint32_t closeError_ = 0;  // error given to requests once the link has closed
  uint32_t nextSequence_ = 1;
  std::map<uint32_t, std::shared_ptr<Pending>> pending_;
  std::map<uint32_t, int32_t> channels_;  // device channel id -> alarm handle
};

}  // namespace sdkstandin
