// The framed protocol between the SDK library and a simulated device: frame header, size
// limits, and byte-level payload writing and reading (little-endian). Plain functions and
// value types with no shared state: any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sdkwire {

// Header: magic (4), version (2), frame type (2), payload length (4).
constexpr uint32_t kMagic = 0x56534431;  // "VSD1"
constexpr uint16_t kVersion = 1;
constexpr size_t kHeaderSize = 12;

// Every control frame is small; only alarms carry pictures.
constexpr uint32_t kMaxControlPayload = 4 * 1024;
constexpr uint32_t kMaxJpegBytes = 8 * 1024 * 1024;
constexpr uint32_t kMaxAlarmPayload = kMaxJpegBytes + 4 * 1024;
// Text fields: user name and password as the login structure holds them, camera IPv4 text.
constexpr size_t kMaxNameLength = 64;
constexpr size_t kMaxIpTextLength = 15;
constexpr size_t kMaxChannels = 64;

enum class FrameType : uint16_t {
  LoginRequest = 1,
  LoginReply = 2,
  ConfigRequest = 3,
  ConfigReply = 4,
  PingRequest = 5,
  PingReply = 6,
  SubscribeRequest = 7,
  SubscribeReply = 8,
  UnsubscribeRequest = 9,
  UnsubscribeReply = 10,
  Alarm = 11,
  Logout = 12,
};

// Which side sends a frame: the limits differ per direction.
enum class Direction { ToDevice, FromDevice };

struct FrameHeader {
  uint32_t magic = kMagic;
  uint16_t version = kVersion;
  uint16_t type = 0;
  uint32_t length = 0;
};

enum class HeaderCheck { Ok, BadMagic, VersionMismatch, UnexpectedType, TooLarge };

void EncodeHeader(const FrameHeader& header, uint8_t out[kHeaderSize]);
FrameHeader DecodeHeader(const uint8_t in[kHeaderSize]);
// Checks magic, version, that the type may travel in this direction, and the size limit.
HeaderCheck CheckHeader(const FrameHeader& header, Direction direction);
const char* HeaderCheckText(HeaderCheck check);

// A whole frame ready to send.
std::vector<uint8_t> MakeFrame(FrameType type, const std::vector<uint8_t>& payload,
                               uint16_t version = kVersion);

class PayloadWriter {
 public:
  PayloadWriter& U8(uint8_t value);
  PayloadWriter& U16(uint16_t value);
  PayloadWriter& U32(uint32_t value);
  PayloadWriter& F32(float value);
  // Length (U16) then the bytes.
  PayloadWriter& Text(const std::string& value);
  // Length (U32) then the bytes.
  PayloadWriter& Blob(const std::vector<uint8_t>& value);
  PayloadWriter& Blob(const uint8_t* data, size_t size);

  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

// Reads fields in order; the first short or over-long field makes it fail, and every later
// read fails too, so a decoder checks Ok() once at the end.
class PayloadReader {
 public:
  PayloadReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit PayloadReader(const std::vector<uint8_t>& bytes)
      : PayloadReader(bytes.data(), bytes.size()) {}

  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  float F32();
  std::string Text(size_t maxLength);
  std::vector<uint8_t> Blob(size_t maxLength);

  bool Ok() const { return ok_; }
  // True when every byte was consumed and nothing failed.
  bool Done() const { return ok_ && pos_ == size_; }

 private:
  bool Take(size_t count, const uint8_t** out);

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace sdkwire
