#include "pipeline/BilinearScaler.h"

#include <new>
#include <vector>

// A target sample is
//   ((f-g)(c-e)·P00 + g(c-e)·P01 + (f-g)e·P10 + g·e·P11 + (c·f) div 2) div (c·f)
// with f = targetWidth - 1, c = targetHeight - 1 and g, e the remainders of the source position.
// It is computed as (f-g)·V0 + g·V1 with V = (c-e)·P + e·P' the vertical blend of the two source
// rows, which is the same integer. The vertical blend runs over whole contiguous rows (which
// the compiler vectorises); the horizontal pass then gathers two blended samples per target
// sample and divides once.

namespace {

// Where one target position falls between two source positions: index1 is index0 + 1 when
// the position lies between them and index0 when it is exact. The weights add up to the span.
struct Tap {
  int32_t index0;
  int32_t index1;
  uint32_t weight0;
  uint32_t weight1;
};

// Maps targetCount positions onto sourceCount with the first and the last aligned. A single
// target position sits on the first source position, with a span of 1.
std::vector<Tap> MakeTaps(int32_t targetCount, int32_t sourceCount, uint32_t* span) {
  const int64_t f = targetCount > 1 ? targetCount - 1 : 1;
  const int64_t step = targetCount > 1 ? sourceCount - 1 : 0;
  std::vector<Tap> taps(static_cast<std::size_t>(targetCount));
  int64_t numerator = 0;
  for (Tap& tap : taps) {
    const int64_t q = numerator / f;
    const int64_t r = numerator % f;
    tap.index0 = static_cast<int32_t>(q);
    tap.index1 = static_cast<int32_t>(r > 0 ? q + 1 : q);
    tap.weight0 = static_cast<uint32_t>(f - r);
    tap.weight1 = static_cast<uint32_t>(r);
    numerator += step;
  }
  *span = static_cast<uint32_t>(f);
  return taps;
}

// Exact division by a fixed divisor d <= 2^24 of numerators n below 256·d, as a multiply with
// m = ceil(2^56 / d): n·m / 2^56 exceeds n / d by less than n·d / 2^56 < 1 / d, too little to
// reach the next integer, and n·m stays below 2^64.
class FixedDivider {
 public:
  explicit FixedDivider(uint32_t divisor)
      : multiplier_(((uint64_t{1} << 56) + divisor - 1) / divisor) {}
  uint32_t operator()(uint32_t n) const {
    return static_cast<uint32_t>((uint64_t{n} * multiplier_) >> 56);
  }

 private:
  uint64_t multiplier_;
};

class PlainDivider {
 public:
  explicit PlainDivider(uint64_t divisor) : divisor_(divisor) {}
  uint64_t operator()(uint64_t n) const { return n / divisor_; }

 private:
  uint64_t divisor_;
};

// Blends the samples of two source rows: out[i] = w0·a[i] + w1·b[i].
template <typename Blend>
void BlendRows(const uint8_t* a, const uint8_t* b, uint32_t w0, uint32_t w1, std::size_t count,
               Blend* out) {
  const Blend weight0 = static_cast<Blend>(w0);
  const Blend weight1 = static_cast<Blend>(w1);
  if (w1 == 0) {
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<Blend>(weight0 * a[i]);
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      out[i] = static_cast<Blend>(weight0 * a[i] + weight1 * b[i]);
    }
  }
}

// Blend holds a vertical blend (at most 255·c), Sum a full numerator (below 256·c·f).
template <typename Blend, typename Sum, typename Divider>
void Resample(const uint8_t* source, int32_t width, const std::vector<Tap>& columns,
              const std::vector<Tap>& rows, Sum denominator, uint8_t* target) {
  const Divider divide(denominator);
  const Sum half = denominator / 2;
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  std::vector<Blend> blended(stride);
  for (const Tap& row : rows) {
    BlendRows(source + static_cast<std::size_t>(row.index0) * stride,
              source + static_cast<std::size_t>(row.index1) * stride, row.weight0, row.weight1,
              stride, blended.data());
    for (const Tap& column : columns) {
      const Blend* a = blended.data() + static_cast<std::size_t>(column.index0) * 3;
      const Blend* b = blended.data() + static_cast<std::size_t>(column.index1) * 3;
      const Sum w0 = column.weight0;
      const Sum w1 = column.weight1;
      target[0] = static_cast<uint8_t>(divide(w0 * a[0] + w1 * b[0] + half));
      target[1] = static_cast<uint8_t>(divide(w0 * a[1] + w1 * b[1] + half));
      target[2] = static_cast<uint8_t>(divide(w0 * a[2] + w1 * b[2] + half));
      target += 3;
    }
  }
}

}  // namespace

std::unique_ptr<uint8_t[]> ScaleRgbBilinear(int32_t targetWidth, int32_t targetHeight,
                                            const uint8_t* source, int32_t width, int32_t height) {
  if (source == nullptr || targetWidth <= 0 || targetHeight <= 0 || width <= 0 || height <= 0) {
    return nullptr;
  }
  if (int64_t{targetWidth} * targetHeight > kMaxSnapPixels) return nullptr;
  std::unique_ptr<uint8_t[]> target(
      new (std::nothrow) uint8_t[static_cast<std::size_t>(targetWidth) * targetHeight * 3]);
  if (!target) return nullptr;
  try {
    uint32_t f = 0;
    uint32_t c = 0;
    const std::vector<Tap> columns = MakeTaps(targetWidth, width, &f);
    const std::vector<Tap> rows = MakeTaps(targetHeight, height, &c);
    const uint64_t denominator = uint64_t{c} * f;
    // Every numerator is below 256·c·f: 32-bit sums serve up to c·f = 2^24. A vertical blend
    // is at most 255·c, so 16 bits hold it up to c = 257, which covers usual thumbnail bounds.
    if (denominator <= (uint64_t{1} << 24)) {
      const uint32_t d = static_cast<uint32_t>(denominator);
      if (c <= 257) {
        Resample<uint16_t, uint32_t, FixedDivider>(source, width, columns, rows, d, target.get());
      } else {
        Resample<uint32_t, uint32_t, FixedDivider>(source, width, columns, rows, d, target.get());
      }
    } else {
      Resample<uint64_t, uint64_t, PlainDivider>(source, width, columns, rows, denominator,
                                                 target.get());
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return target;
}
