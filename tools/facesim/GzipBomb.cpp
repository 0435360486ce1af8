#include "tools/facesim/GzipBomb.h"

#include <zlib.h>

#include <stdexcept>
#include <vector>

namespace facesim {

namespace {

constexpr uInt kChunk = 1 << 20;  // zeros deflated between two full flushes
constexpr int kChunks = static_cast<int>(kGzipBombInflated / kChunk);

// Deflates the input (or none) with the flush mode and returns what came out.
std::string Deflate(z_stream& stream, const std::vector<Bytef>& input, int flush) {
  std::string out;
  std::vector<Bytef> buffer(64 * 1024);
  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  do {
    stream.next_out = buffer.data();
    stream.avail_out = static_cast<uInt>(buffer.size());
    if (deflate(&stream, flush) == Z_STREAM_ERROR) throw std::runtime_error("deflate failed");
    out.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - stream.avail_out);
  } while (stream.avail_out == 0);
  return out;
}

void PutLittleEndian(uint32_t value, char* at) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A full flush leaves the output on a byte boundary and the compressor with no history, so the
// deflated second chunk decodes on its own wherever it stands: the bomb repeats it instead of
// deflating a whole GiB. The trailer's CRC and size are those of the whole GiB.
std::string Build() {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  const std::vector<Bytef> zeros(kChunk, 0);
  std::string bomb = Deflate(stream, zeros, Z_FULL_FLUSH);
  const std::string repeated = Deflate(stream, zeros, Z_FULL_FLUSH);
  std::string tail = Deflate(stream, {}, Z_FINISH);
  deflateEnd(&stream);
  bomb.reserve(bomb.size() + repeated.size() * (kChunks - 1) + tail.size());
  for (int i = 1; i < kChunks; ++i) bomb += repeated;

  const uLong chunkCrc = crc32(crc32(0L, Z_NULL, 0), zeros.data(), kChunk);
  uLong crc = chunkCrc;
  for (int i = 1; i < kChunks; ++i) crc = crc32_combine(crc, chunkCrc, kChunk);
  if (tail.size() < 8) throw std::runtime_error("deflate gave no gzip trailer");
  PutLittleEndian(static_cast<uint32_t>(crc), &tail[tail.size() - 8]);
  PutLittleEndian(static_cast<uint32_t>(kGzipBombInflated & 0xFFFFFFFFu), &tail[tail.size() - 4]);
  return bomb + tail;
}

}  // namespace

std::shared_ptr<const std::string> GzipBomb() {
  static const std::shared_ptr<const std::string> bomb = std::make_shared<const std::string>(Build());
  return bomb;
}

}  // namespace facesim
