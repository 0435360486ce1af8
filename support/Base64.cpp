#include "support/Base64.h"

std::string Base64Encode(const unsigned char* data, int length) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  if (data == nullptr || length <= 0) return out;
  const std::size_t n = static_cast<std::size_t>(length);
  out.resize((n + 2) / 3 * 4);
  char* dst = &out[0];
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const unsigned b0 = data[i], b1 = data[i + 1], b2 = data[i + 2];
    dst[0] = kAlphabet[b0 >> 2];
    dst[1] = kAlphabet[((b0 << 4) & 0x3F) | (b1 >> 4)];
    dst[2] = kAlphabet[((b1 << 2) & 0x3F) | (b2 >> 6)];
    dst[3] = kAlphabet[b2 & 0x3F];
    dst += 4;
  }
  if (n - i == 1) {
    const unsigned b0 = data[i];
    dst[0] = kAlphabet[b0 >> 2];
    dst[1] = kAlphabet[(b0 & 3) << 4];
    dst[2] = '=';
    dst[3] = '=';
  } else if (n - i == 2) {
    const unsigned b0 = data[i], b1 = data[i + 1];
    dst[0] = kAlphabet[b0 >> 2];
    dst[1] = kAlphabet[((b0 << 4) & 0x3F) | (b1 >> 4)];
    dst[2] = kAlphabet[(b1 & 0x0F) << 2];
    dst[3] = '=';
  }
  return out;
}
