#include "sdk/WireMessages.h"

namespace sdkwire {

namespace {

bool ValidStatus(uint8_t value) {
  switch (static_cast<Status>(value)) {
    case Status::Ok:
    case Status::BadCredentials:
    case Status::TooManyLinks:
    case Status::VersionMismatch:
    case Status::Refused:
    case Status::Unsupported:
      return true;
  }
  return false;
}

bool ReadStatus(PayloadReader& reader, Status* out) {
  const uint8_t value = reader.U8();
  if (!ValidStatus(value)) return false;
  *out = static_cast<Status>(value);
  return true;
}

}  // namespace

std::vector<uint8_t> WithSequence(uint32_t sequence, const std::vector<uint8_t>& body) {
  PayloadWriter writer;
  writer.U32(sequence);
  std::vector<uint8_t> bytes = writer.Take();
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

bool SplitSequence(const std::vector<uint8_t>& payload, uint32_t* sequence,
                   std::vector<uint8_t>* body) {
  PayloadReader reader(payload);
  *sequence = reader.U32();
  if (!reader.Ok()) return false;
  body->assign(payload.begin() + 4, payload.end());
  return true;
}

std::vector<uint8_t> Encode(const LoginRequest& message) {
  return PayloadWriter().Text(message.user).Text(message.password).Take();
}

std::vector<uint8_t> Encode(const LoginReply& message) {
  return PayloadWriter()
      .U8(static_cast<uint8_t>(message.status))
      .U8(message.analogChannels)
      .U8(message.firstAnalogChannel)
      .U8(message.ipChannels)
      .U8(message.firstIpChannel)
      .Take();
}

std::vector<uint8_t> Encode(const ConfigReply& message) {
  return PayloadWriter()
      .U8(static_cast<uint8_t>(message.status))
      .U32(message.firstIpChannel)
      .Blob(message.analogEnabled)
      .Blob(message.ipEnabled)
      .Take();
}

std::vector<uint8_t> Encode(const ValueRequest& message) {
  return PayloadWriter().U32(message.value).Take();
}

std::vector<uint8_t> Encode(const ValueReply& message) {
  return PayloadWriter().U8(static_cast<uint8_t>(message.status)).U32(message.value).Take();
}

std::vector<uint8_t> Encode(const AlarmFrame& message) {
  return PayloadWriter().U32(message.channel).U32(message.command).Blob(message.body).Take();
}

std::vector<uint8_t> Encode(const FaceAlarm& message) {
  return PayloadWriter()
      .U32(message.absTime)
      .U32(message.faceId)
      .Text(message.cameraIp)
      .U16(message.cameraPort)
      .U8(message.cameraChannel)
      .U8(message.mask)
      .U8(message.hasAddInfo ? 1 : 0)
      .F32(message.temperature)
      .U8(message.abnormal)
      .U8(message.unit)
      .Blob(message.jpeg)
      .Take();
}

bool Decode(const std::vector<uint8_t>& body, LoginRequest* out) {
  PayloadReader reader(body);
  out->user = reader.Text(kMaxNameLength);
  out->password = reader.Text(kMaxNameLength);
  return reader.Done();
}

bool Decode(const std::vector<uint8_t>& body, LoginReply* out) {
  PayloadReader reader(body);
  if (!ReadStatus(reader, &out->status)) return false;
  out->analogChannels = reader.U8();
  out->firstAnalogChannel = reader.U8();
  out->ipChannels = reader.U8();
  out->firstIpChannel = reader.U8();
  return reader.Done() && out->analogChannels <= kMaxChannels && out->ipChannels <= kMaxChannels;
}

bool Decode(const std::vector<uint8_t>& body, ConfigReply* out) {
  PayloadReader reader(body);
  if (!ReadStatus(reader, &out->status)) return false;
  out->firstIpChannel = reader.U32();
  out->analogEnabled = reader.Blob(kMaxChannels);
  out->ipEnabled = reader.Blob(kMaxChannels);
  return reader.Done();
}

bool Decode(const std::vector<uint8_t>& body, ValueRequest* out) {
  PayloadReader reader(body);
  out->value = reader.U32();
  return reader.Done();
}

bool Decode(const std::vector<uint8_t>& body, ValueReply* out) {
  PayloadReader reader(body);
  if (!ReadStatus(reader, &out->status)) return false;
  out->value = reader.U32();
  return reader.Done();
}

bool Decode(const std::vector<uint8_t>& body, AlarmFrame* out) {
  PayloadReader reader(body);
  out->channel = reader.U32();
  out->command = reader.U32();
  out->body = reader.Blob(kMaxAlarmPayload);
  return reader.Done();
}

bool Decode(const std::vector<uint8_t>& body, FaceAlarm* out) {
  PayloadReader reader(body);
  out->absTime = reader.U32();
  out->faceId = reader.U32();
  out->cameraIp = reader.Text(kMaxIpTextLength);
  out->cameraPort = reader.U16();
  out->cameraChannel = reader.U8();
  out->mask = reader.U8();
  const uint8_t hasAddInfo = reader.U8();
  out->hasAddInfo = hasAddInfo != 0;
  out->temperature = reader.F32();
  out->abnormal = reader.U8();
  out->unit = reader.U8();
  out->jpeg = reader.Blob(kMaxJpegBytes);
  return reader.Done() && hasAddInfo <= 1;
}

}  // namespace sdkwire
