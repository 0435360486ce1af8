// libFuzzer target for the device link's frame decoding, in both directions: the first byte
// picks the direction, the next twelve are the frame header, the rest is the payload, which
// goes through every message decoder. Nothing may crash, and an accepted header must respect
// the size limits. Run with scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sdk/WireMessages.h"
#include "sdk/WireProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 + sdkwire::kHeaderSize) return 0;
  const auto direction = (data[0] & 1) ? sdkwire::Direction::FromDevice
                                       : sdkwire::Direction::ToDevice;
  const sdkwire::FrameHeader header = sdkwire::DecodeHeader(data + 1);
  const sdkwire::HeaderCheck check = sdkwire::CheckHeader(header, direction);
  if (check == sdkwire::HeaderCheck::Ok && header.length > sdkwire::kMaxAlarmPayload) abort();
  sdkwire::HeaderCheckText(check);

  const std::vector<uint8_t> payload(data + 1 + sdkwire::kHeaderSize, data + size);
  uint32_t sequence = 0;
  std::vector<uint8_t> body;
  sdkwire::SplitSequence(payload, &sequence, &body);
  const std::vector<uint8_t>* const candidates[] = {&payload, &body};
  for (const std::vector<uint8_t>* bytes : candidates) {
    sdkwire::LoginRequest login;
    sdkwire::LoginReply loginReply;
    sdkwire::ConfigReply config;
    sdkwire::ValueRequest value;
    sdkwire::ValueReply valueReply;
    sdkwire::AlarmFrame alarm;
    sdkwire::FaceAlarm face;
    sdkwire::Decode(*bytes, &login);
    sdkwire::Decode(*bytes, &loginReply);
    sdkwire::Decode(*bytes, &config);
    sdkwire::Decode(*bytes, &value);
    sdkwire::Decode(*bytes, &valueReply);
    if (sdkwire::Decode(*bytes, &alarm)) sdkwire::Encode(alarm);
    if (sdkwire::Decode(*bytes, &face) && face.jpeg.size() > sdkwire::kMaxJpegBytes) abort();
  }
  return 0;
}
