#include "sdk/WireProtocol.h"

#include <cstring>

namespace sdkwire {

namespace {

void Put32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

void Put16(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
}

uint32_t Get32(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
         (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

uint16_t Get16(const uint8_t* in) { return static_cast<uint16_t>(in[0] | (in[1] << 8)); }

// Largest payload of a frame type in one direction; -1 when the type may not travel that way.
int64_t PayloadLimit(uint16_t type, Direction direction) {
  const bool toDevice = direction == Direction::ToDevice;
  const int64_t control = kMaxControlPayload;
  const int64_t alarm = kMaxAlarmPayload;
  switch (static_cast<FrameType>(type)) {
    case FrameType::LoginRequest:
    case FrameType::ConfigRequest:
    case FrameType::PingRequest:
    case FrameType::SubscribeRequest:
    case FrameType::UnsubscribeRequest:
    case FrameType::Logout:
      return toDevice ? control : -1;
    case FrameType::LoginReply:
    case FrameType::ConfigReply:
    case FrameType::PingReply:
    case FrameType::SubscribeReply:
    case FrameType::UnsubscribeReply:
      return toDevice ? -1 : control;
    case FrameType::Alarm:
      return toDevice ? -1 : alarm;
  }
  return -1;
}

}  // namespace

void EncodeHeader(const FrameHeader& header, uint8_t out[kHeaderSize]) {
  Put32(out, header.magic);
  Put16(out + 4, header.version);
  Put16(out + 6, header.type);
  Put32(out + 8, header.length);
}

FrameHeader DecodeHeader(const uint8_t in[kHeaderSize]) {
  FrameHeader header;
  header.magic = Get32(in);
  header.version = Get16(in + 4);
  header.type = Get16(in + 6);
  header.length = Get32(in + 8);
  return header;
}

HeaderCheck CheckHeader(const FrameHeader& header, Direction direction) {
  if (header.magic != kMagic) return HeaderCheck::BadMagic;
  if (header.version != kVersion) return HeaderCheck::VersionMismatch;
  const int64_t limit = PayloadLimit(header.type, direction);
  if (limit < 0) return HeaderCheck::UnexpectedType;
  if (header.length > limit) return HeaderCheck::TooLarge;
  return HeaderCheck::Ok;
}

const char* HeaderCheckText(HeaderCheck check) {
  switch (check) {
    case HeaderCheck::Ok:
      return "ok";
    case HeaderCheck::BadMagic:
      return "not a frame (bad magic)";
    case HeaderCheck::VersionMismatch:
      return "protocol version mismatch";
    case HeaderCheck::UnexpectedType:
      return "unexpected frame type";
    case HeaderCheck::TooLarge:
      return "frame too large";
  }
  return "?";
}

std::vector<uint8_t> MakeFrame(FrameType type, const std::vector<uint8_t>& payload,
                               uint16_t version) {
  std::vector<uint8_t> frame(kHeaderSize + payload.size());
  FrameHeader header;
  header.version = version;
  header.type = static_cast<uint16_t>(type);
  header.length = static_cast<uint32_t>(payload.size());
  EncodeHeader(header, frame.data());
  if (!payload.empty()) std::memcpy(frame.data() + kHeaderSize, payload.data(), payload.size());
  return frame;
}

PayloadWriter& PayloadWriter::U8(uint8_t value) {
  bytes_.push_back(value);
  return *this;
}

PayloadWriter& PayloadWriter::U16(uint16_t value) {
  uint8_t b[2];
  Put16(b, value);
  bytes_.insert(bytes_.end(), b, b + 2);
  return *this;
}

PayloadWriter& PayloadWriter::U32(uint32_t value) {
  uint8_t b[4];
  Put32(b, value);
  bytes_.insert(bytes_.end(), b, b + 4);
  return *this;
}

PayloadWriter& PayloadWriter::F32(float value) {
  static_assert(sizeof(float) == 4, "IEEE single");
  uint32_t bits = 0;
  std::memcpy(&bits, &value, 4);
  return U32(bits);
}

PayloadWriter& PayloadWriter::Text(const std::string& value) {
  U16(static_cast<uint16_t>(value.size()));
  bytes_.insert(bytes_.end(), value.begin(), value.end());
  return *this;
}

PayloadWriter& PayloadWriter::Blob(const std::vector<uint8_t>& value) {
  return Blob(value.data(), value.size());
}

PayloadWriter& PayloadWriter::Blob(const uint8_t* data, size_t size) {
  U32(static_cast<uint32_t>(size));
  bytes_.insert(bytes_.end(), data, data + size);
  return *this;
}

bool PayloadReader::Take(size_t count, const uint8_t** out) {
  if (!ok_ || size_ - pos_ < count) {
    ok_ = false;
    return false;
  }
  *out = data_ + pos_;
  pos_ += count;
  return true;
}

uint8_t PayloadReader::U8() {
  const uint8_t* p = nullptr;
  return Take(1, &p) ? p[0] : 0;
}

uint16_t PayloadReader::U16() {
  const uint8_t* p = nullptr;
  return Take(2, &p) ? Get16(p) : 0;
}

uint32_t PayloadReader::U32() {
  const uint8_t* p = nullptr;
  return Take(4, &p) ? Get32(p) : 0;
}

float PayloadReader::F32() {
  const uint32_t bits = U32();
  float value = 0;
  std::memcpy(&value, &bits, 4);
  return value;
}

std::string PayloadReader::Text(size_t maxLength) {
  const size_t length = U16();
  if (length > maxLength) ok_ = false;
  const uint8_t* p = nullptr;
  if (!Take(length, &p)) return std::string();
  return std::string(reinterpret_cast<const char*>(p), length);
}

std::vector<uint8_t> PayloadReader::Blob(size_t maxLength) {
  const size_t length = U32();
  if (length > maxLength) ok_ = false;
  const uint8_t* p = nullptr;
  if (!Take(length, &p)) return {};
  return std::vector<uint8_t>(p, p + length);
}

}  // namespace sdkwire
