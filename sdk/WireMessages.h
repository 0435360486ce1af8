// The messages carried in frames between the SDK library and a simulated device, with their
// encoding. Requests and replies carry a sequence number first that pairs them; the bodies
// here follow it. Plain value types and functions: any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdk/WireProtocol.h"

namespace sdkwire {

// Outcome of a request, as the device reports it. The login codes equal the library's
// error codes for the same cause.
enum class Status : uint8_t {
  Ok = 0,
  BadCredentials = 1,
  TooManyLinks = 5,
  VersionMismatch = 6,
  Refused = 20,  // a request the device will not serve (not logged in, second channel...)
  Unsupported = 21,
};

struct LoginRequest {
  std::string user;
  std::string password;
};

struct LoginReply {
  Status status = Status::Ok;
  uint8_t analogChannels = 0;
  uint8_t firstAnalogChannel = 0;
  uint8_t ipChannels = 0;
  uint8_t firstIpChannel = 0;
};

// Channel table of the device: one enable byte per analog and per IP channel.
struct ConfigReply {
  Status status = Status::Ok;
  uint32_t firstIpChannel = 0;
  std::vector<uint8_t> analogEnabled;
  std::vector<uint8_t> ipEnabled;
};

// The bodies of ConfigRequest (command code), PingRequest, SubscribeRequest (unused value),
// UnsubscribeRequest (channel id) and the replies to ping, subscribe (channel id) and
// unsubscribe.
struct ValueRequest {
  uint32_t value = 0;
};

struct ValueReply {
  Status status = Status::Ok;
  uint32_t value = 0;
};

// An alarm on a subscribed channel. For face snapshots the body is an encoded FaceAlarm;
// for other commands it is opaque.
struct AlarmFrame {
  uint32_t channel = 0;
  uint32_t command = 0;
  std::vector<uint8_t> body;
};

struct FaceAlarm {
  uint32_t absTime = 0;
  uint32_t faceId = 0;
  std::string cameraIp;
  uint16_t cameraPort = 0;
  uint8_t cameraChannel = 0;
  uint8_t mask = 0;
  bool hasAddInfo = false;
  float temperature = 0;
  uint8_t abnormal = 0;
  uint8_t unit = 0;
  std::vector<uint8_t> jpeg;
};

// A request or reply: sequence number, then the body.
std::vector<uint8_t> WithSequence(uint32_t sequence, const std::vector<uint8_t>& body);
// Splits off the sequence number; false when the payload is too short.
bool SplitSequence(const std::vector<uint8_t>& payload, uint32_t* sequence,
                   std::vector<uint8_t>* body);

std::vector<uint8_t> Encode(const LoginRequest& message);
std::vector<uint8_t> Encode(const LoginReply& message);
std::vector<uint8_t> Encode(const ConfigReply& message);
std::vector<uint8_t> Encode(const ValueRequest& message);
std::vector<uint8_t> Encode(const ValueReply& message);
std::vector<uint8_t> Encode(const AlarmFrame& message);
std::vector<uint8_t> Encode(const FaceAlarm& message);

// Each decoder fails on a short, over-long or out-of-range body.
bool Decode(const std::vector<uint8_t>& body, LoginRequest* out);
bool Decode(const std::vector<uint8_t>& body, LoginReply* out);
bool Decode(const std::vector<uint8_t>& body, ConfigReply* out);
bool Decode(const std::vector<uint8_t>& body, ValueRequest* out);
bool Decode(const std::vector<uint8_t>& body, ValueReply* out);
bool Decode(const std::vector<uint8_t>& body, AlarmFrame* out);
bool Decode(const std::vector<uint8_t>& body, FaceAlarm* out);

}  // namespace sdkwire
