#include "tools/facesim/FaceFingerprint.h"

#include <bitset>

#include "pipeline/JpegCodec.h"

namespace facesim {

namespace {

constexpr int kColumns = 9;
constexpr int kRows = 8;

// ITU-R BT.601 luma weights, in thousandths.
int64_t Luma(const uint8_t* pixel) { return 299 * pixel[0] + 587 * pixel[1] + 114 * pixel[2]; }

// Cell i of n over a side of length size: [begin, end), never empty (a side shorter than n
// repeats its pixels).
void CellSpan(int i, int n, int32_t size, int64_t* begin, int64_t* end) {
  *begin = int64_t{i} * size / n;
  *end = int64_t{i + 1} * size / n;
  if (*end <= *begin) *end = *begin + 1;
}

}  // namespace

uint64_t FingerprintRgb(const uint8_t* rgb, int32_t width, int32_t height) {
  double cells[kRows][kColumns];
  for (int row = 0; row < kRows; ++row) {
    int64_t top = 0, bottom = 0;
    CellSpan(row, kRows, height, &top, &bottom);
    for (int column = 0; column < kColumns; ++column) {
      int64_t left = 0, right = 0;
      CellSpan(column, kColumns, width, &left, &right);
      int64_t sum = 0;
      for (int64_t y = top; y < bottom; ++y) {
        const uint8_t* pixel = rgb + (y * width + left) * 3;
        for (int64_t x = left; x < right; ++x, pixel += 3) sum += Luma(pixel);
      }
      cells[row][column] =
          static_cast<double>(sum) / static_cast<double>((bottom - top) * (right - left));
    }
  }
  uint64_t hash = 0;
  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column + 1 < kColumns; ++column) {
      if (cells[row][column] > cells[row][column + 1]) {
        hash |= uint64_t{1} << (row * (kColumns - 1) + column);
      }
    }
  }
  return hash;
}

bool FingerprintJpeg(const uint8_t* data, std::size_t size, uint64_t* fingerprint,
                     std::string* error) {
  int32_t width = 0, height = 0;
  const auto rgb = DecodeJpegMemory(data, size, &width, &height, error);
  if (!rgb) return false;
  *fingerprint = FingerprintRgb(rgb.get(), width, height);
  return true;
}

bool FingerprintJpegFile(const std::string& path, uint64_t* fingerprint, std::string* error) {
  int32_t width = 0, height = 0;
  const auto rgb = DecodeJpegFile(path, &width, &height, error);
  if (!rgb) return false;
  *fingerprint = FingerprintRgb(rgb.get(), width, height);
  return true;
}

double Similarity(uint64_t a, uint64_t b) {
  return static_cast<double>(64 - std::bitset<64>(a ^ b).count()) / 64.0;
}

}  // namespace facesim
