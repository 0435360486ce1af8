#include "pipeline/SpoolEntry.h"

#include <zlib.h>

#include <cstring>

#include "support/StringFormat.h"

namespace spool_entry {

namespace {

constexpr char kMagic[6] = {'V', 'S', 'P', 'O', 'O', 'L'};
constexpr std::size_t kHeaderBytes = sizeof kMagic + 2 + 4 + 4;

void PutU16(std::string* out, uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>(v >> 8));
}
void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutU64(std::string* out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutText(std::string* out, const std::string& text) {
  PutU32(out, static_cast<uint32_t>(text.size()));
  out->append(text);
}

// Reads from a payload without ever passing its end.
class Reader {
 public:
  Reader(const std::string& bytes, std::size_t at) : bytes_(bytes), at_(at) {}
  bool U16(uint16_t* v) {
    uint64_t w;
    if (!Take(2, &w)) return false;
    *v = static_cast<uint16_t>(w);
    return true;
  }
  bool U32(uint32_t* v) {
    uint64_t w;
    if (!Take(4, &w)) return false;
    *v = static_cast<uint32_t>(w);
    return true;
  }
  bool U64(uint64_t* v) { return Take(8, v); }
  bool I32(int32_t* v) {
    uint32_t w;
    if (!U32(&w)) return false;
    *v = static_cast<int32_t>(w);
    return true;
  }
  bool Text(std::string* text) {
    uint32_t size;
    if (!U32(&size) || size > bytes_.size() - at_) return false;
    text->assign(bytes_, at_, size);
    at_ += size;
    return true;
  }
  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  bool Take(std::size_t n, uint64_t* v) {
    if (bytes_.size() - at_ < n) return false;
    *v = 0;
    for (std::size_t i = 0; i < n; ++i) {
      *v |= static_cast<uint64_t>(static_cast<unsigned char>(bytes_[at_ + i])) << (8 * i);
    }
    at_ += n;
    return true;
  }
  const std::string& bytes_;
  std::size_t at_;
};

uint32_t Crc32(const char* data, std::size_t size) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (size > 0) {
    const uInt chunk = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data), chunk);
    data += chunk;
    size -= chunk;
  }
  return static_cast<uint32_t>(crc);
}

}  // namespace

std::size_t EncodedSize(const FaceSnapshot& s) {
  return kHeaderBytes + 8 + 4 + (4 + s.PosId.size()) + (4 + s.Picture.size()) + 5 * 4;
}

std::string Encode(const FaceSnapshot& s) {
  std::string payload;
  payload.reserve(64 + s.PosId.size() + s.Picture.size());
  PutU64(&payload, static_cast<uint64_t>(static_cast<int64_t>(s.EventTime)));
  PutU32(&payload, static_cast<uint32_t>(s.FaceID));
  PutText(&payload, s.PosId);
  PutText(&payload, s.Picture);
  uint32_t temperature;
  static_assert(sizeof temperature == sizeof s.FaceTemperature, "float is 32 bits");
  std::memcpy(&temperature, &s.FaceTemperature, sizeof temperature);
  PutU32(&payload, temperature);
  PutU32(&payload, static_cast<uint32_t>(s.TemperatureStatus));
  PutU32(&payload, static_cast<uint32_t>(s.TemperatureUnit));
  PutU32(&payload, static_cast<uint32_t>(s.WearMask));
  PutU32(&payload, static_cast<uint32_t>(s.GroupId));

  std::string out(kMagic, sizeof kMagic);
  PutU16(&out, kVersion);
  PutU32(&out, static_cast<uint32_t>(payload.size()));
  PutU32(&out, Crc32(payload.data(), payload.size()));
  return out + payload;
}

bool Decode(const std::string& bytes, FaceSnapshot* s, std::string* why) {
  if (bytes.size() < kHeaderBytes) {
    *why = StringFormat("cut short (%zu bytes)", bytes.size());
    return false;
  }
  if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    *why = "not a spool entry";
    return false;
  }
  Reader header(bytes, sizeof kMagic);
  uint16_t version;
  uint32_t length, crc;
  header.U16(&version);
  header.U32(&length);
  header.U32(&crc);
  if (version != kVersion) {
    *why = StringFormat("unknown version %u", static_cast<unsigned>(version));
    return false;
  }
  if (bytes.size() - kHeaderBytes != length) {
    *why = StringFormat("cut short (%zu of %u payload bytes)", bytes.size() - kHeaderBytes,
                        static_cast<unsigned>(length));
    return false;
  }
  if (Crc32(bytes.data() + kHeaderBytes, length) != crc) {
    *why = "bad checksum";
    return false;
  }
  Reader r(bytes, kHeaderBytes);
  uint64_t eventTime;
  uint32_t temperature;
  const bool ok = r.U64(&eventTime) && r.I32(&s->FaceID) && r.Text(&s->PosId) &&
                  r.Text(&s->Picture) && r.U32(&temperature) && r.I32(&s->TemperatureStatus) &&
                  r.I32(&s->TemperatureUnit) && r.I32(&s->WearMask) && r.I32(&s->GroupId) &&
                  r.AtEnd();
  if (!ok) {
    *why = "fields do not fit the payload";
    return false;
  }
  s->EventTime = static_cast<std::time_t>(static_cast<int64_t>(eventTime));
  std::memcpy(&s->FaceTemperature, &temperature, sizeof temperature);
  return true;
}

}  // namespace spool_entry
