// The frame header checks and the bounded payload reader, which stand between the network
// and every decoder.
#include "sdk/WireProtocol.h"

#include <gtest/gtest.h>

#include "sdk/WireMessages.h"

namespace sdkwire {
namespace {

FrameHeader Make(FrameType type, uint32_t length) {
  FrameHeader header;
  header.type = static_cast<uint16_t>(type);
  header.length = length;
  return header;
}

TEST(WireProtocolTest, HeaderSurvivesEncoding) {
  FrameHeader header = Make(FrameType::Alarm, 0x01020304);
  header.version = 0xBEEF;
  uint8_t bytes[kHeaderSize];
  EncodeHeader(header, bytes);
  EXPECT_EQ(bytes[8], 0x04);  // little-endian on the wire
  const FrameHeader back = DecodeHeader(bytes);
  EXPECT_EQ(back.magic, kMagic);
  EXPECT_EQ(back.version, 0xBEEF);
  EXPECT_EQ(back.type, static_cast<uint16_t>(FrameType::Alarm));
  EXPECT_EQ(back.length, 0x01020304u);
}

TEST(WireProtocolTest, HeaderChecksLimitsPerDirection) {
  EXPECT_EQ(CheckHeader(Make(FrameType::Alarm, kMaxAlarmPayload), Direction::FromDevice),
            HeaderCheck::Ok);
  EXPECT_EQ(CheckHeader(Make(FrameType::Alarm, kMaxAlarmPayload + 1), Direction::FromDevice),
            HeaderCheck::TooLarge);
  EXPECT_EQ(CheckHeader(Make(FrameType::Alarm, 0), Direction::ToDevice),
            HeaderCheck::UnexpectedType);
  EXPECT_EQ(CheckHeader(Make(FrameType::LoginRequest, kMaxControlPayload), Direction::ToDevice),
            HeaderCheck::Ok);
  EXPECT_EQ(CheckHeader(Make(FrameType::LoginRequest, kMaxControlPayload + 1), Direction::ToDevice),
            HeaderCheck::TooLarge);
  EXPECT_EQ(CheckHeader(Make(FrameType::PingReply, kMaxControlPayload + 1), Direction::FromDevice),
            HeaderCheck::TooLarge);
  EXPECT_EQ(CheckHeader(Make(FrameType::LoginRequest, 0), Direction::FromDevice),
            HeaderCheck::UnexpectedType);
  EXPECT_EQ(CheckHeader(Make(static_cast<FrameType>(999), 0), Direction::FromDevice),
            HeaderCheck::UnexpectedType);
  FrameHeader other = Make(FrameType::LoginReply, 0);
  other.version = kVersion + 1;
  EXPECT_EQ(CheckHeader(other, Direction::FromDevice), HeaderCheck::VersionMismatch);
  other.magic = 0x20544547;  // "GET "
  EXPECT_EQ(CheckHeader(other, Direction::FromDevice), HeaderCheck::BadMagic);
}

TEST(WireProtocolTest, ReaderFailsOnShortAndOverlongFieldsAndStaysFailed) {
  const std::vector<uint8_t> bytes = PayloadWriter().U16(3).U8('a').Take();
  PayloadReader reader(bytes);
  EXPECT_EQ(reader.Text(64), "");
  EXPECT_FALSE(reader.Ok());
  EXPECT_EQ(reader.U8(), 0);  // no later read succeeds

  const std::vector<uint8_t> text = PayloadWriter().Text("abcdef").Take();
  PayloadReader tooLong(text);
  tooLong.Text(5);
  EXPECT_FALSE(tooLong.Ok());

  const std::vector<uint8_t> blob = PayloadWriter().U32(0xFFFFFFFFu).Take();
  PayloadReader huge(blob);
  EXPECT_TRUE(huge.Blob(kMaxJpegBytes).empty());
  EXPECT_FALSE(huge.Ok());
}

TEST(WireProtocolTest, MessagesRoundTripAndRejectTrailingBytes) {
  FaceAlarm face;
  face.absTime = 0x5662828C;
  face.faceId = 4000000000u;
  face.cameraIp = "127.0.0.2";
  face.mask = 255;
  face.hasAddInfo = true;
  face.temperature = 37.25f;
  face.abnormal = 1;
  face.unit = 2;
  face.jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
  std::vector<uint8_t> body = Encode(face);
  FaceAlarm back;
  ASSERT_TRUE(Decode(body, &back));
  EXPECT_EQ(back.absTime, face.absTime);
  EXPECT_EQ(back.faceId, face.faceId);
  EXPECT_EQ(back.cameraIp, face.cameraIp);
  EXPECT_EQ(back.mask, 255);
  EXPECT_TRUE(back.hasAddInfo);
  EXPECT_EQ(back.temperature, 37.25f);
  EXPECT_EQ(back.unit, 2);
  EXPECT_EQ(back.jpeg, face.jpeg);
  body.push_back(0);
  EXPECT_FALSE(Decode(body, &back));

  face.cameraIp = "1234567890123456";  // longer than the structure's IPv4 field holds
  EXPECT_FALSE(Decode(Encode(face), &back));

  ConfigReply config;
  config.ipEnabled.assign(kMaxChannels + 1, 1);
  ConfigReply configBack;
  EXPECT_FALSE(Decode(Encode(config), &configBack));

  std::vector<uint8_t> reply = Encode(ValueReply{});
  reply[0] = 77;  // no such status
  ValueReply valueBack;
  EXPECT_FALSE(Decode(reply, &valueBack));
}

}  // namespace
}  // namespace sdkwire
