#include "pipeline/BilinearScaler.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> samples;
};

// Binary PPM with maxval 255, as the fixtures are written.
Picture ReadPpm(const std::string& name) {
  std::ifstream in(std::string(VESTREL_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  std::string magic;
  int maxval = 0;
  Picture picture;
  in >> magic >> picture.width >> picture.height >> maxval;
  in.get();
  picture.samples.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  EXPECT_EQ(magic, "P6");
  EXPECT_EQ(maxval, 255);
  EXPECT_EQ(picture.samples.size(), static_cast<std::size_t>(picture.width) * picture.height * 3);
  return picture;
}

std::vector<uint8_t> Pixel(const uint8_t* block, int32_t width, int32_t x, int32_t y) {
  const uint8_t* p = block + (static_cast<std::size_t>(y) * width + x) * 3;
  return {p[0], p[1], p[2]};
}

// The resampling formula term by term, in 64-bit arithmetic; a target of 1 sits on the first
// source position.
uint8_t ReferenceSample(const uint8_t* src, int32_t w, int32_t h, int32_t W, int32_t H, int32_t X,
                        int32_t Y, int ch) {
  const int64_t f = W > 1 ? W - 1 : 1;
  const int64_t c = H > 1 ? H - 1 : 1;
  const int64_t nx = W > 1 ? int64_t{X} * (w - 1) : 0;
  const int64_t ny = H > 1 ? int64_t{Y} * (h - 1) : 0;
  const int64_t x0 = nx / f, g = nx % f, y0 = ny / c, e = ny % c;
  const int64_t x1 = g > 0 ? x0 + 1 : x0, y1 = e > 0 ? y0 + 1 : y0;
  auto at = [&](int64_t x, int64_t y) { return int64_t{src[(y * w + x) * 3 + ch]}; };
  const int64_t sum = (f - g) * (c - e) * at(x0, y0) + g * (c - e) * at(x1, y0) +
                      (f - g) * e * at(x0, y1) + g * e * at(x1, y1) + (c * f) / 2;
  return static_cast<uint8_t>(sum / (c * f));
}

std::vector<uint8_t> RandomBlock(int32_t width, int32_t height, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> block(static_cast<std::size_t>(width) * height * 3);
  for (uint8_t& sample : block) sample = static_cast<uint8_t>(random() & 0xFF);
  return block;
}

// Compares every sample of rows 0, step, 2·step, ... and of the last row with the reference.
void ExpectMatchesReference(const std::vector<uint8_t>& src, int32_t w, int32_t h, int32_t W,
                            int32_t H, int32_t rowStep = 1) {
  const std::unique_ptr<uint8_t[]> out = ScaleRgbBilinear(W, H, src.data(), w, h);
  ASSERT_TRUE(out) << w << "x" << h << " -> " << W << "x" << H;
  std::vector<int32_t> rows;
  for (int32_t Y = 0; Y < H; Y += rowStep) rows.push_back(Y);
  if (rows.back() != H - 1) rows.push_back(H - 1);
  for (const int32_t Y : rows) {
    for (int32_t X = 0; X < W; ++X) {
      for (int ch = 0; ch < 3; ++ch) {
        const uint8_t expected = ReferenceSample(src.data(), w, h, W, H, X, Y, ch);
        const uint8_t actual = out[(static_cast<std::size_t>(Y) * W + X) * 3 + ch];
        if (actual != expected) {
          FAIL() << w << "x" << h << " -> " << W << "x" << H << " at (" << X << "," << Y
                 << ") channel " << ch << ": " << int{actual} << " != " << int{expected};
        }
      }
    }
  }
}

TEST(ScaleRgbBilinear, TwoByTwoToThreeByThreeRoundsTheExactHalfUpward) {
  const Picture src = ReadPpm("lr-black-white-2x2.ppm");
  const auto out = ScaleRgbBilinear(3, 3, src.samples.data(), src.width, src.height);
  ASSERT_TRUE(out);
  for (int32_t y = 0; y < 3; ++y) {
    EXPECT_EQ(Pixel(out.get(), 3, 0, y), std::vector<uint8_t>({0, 0, 0}));
    EXPECT_EQ(Pixel(out.get(), 3, 1, y), std::vector<uint8_t>({128, 128, 128}));
    EXPECT_EQ(Pixel(out.get(), 3, 2, y), std::vector<uint8_t>({255, 255, 255}));
  }
}

TEST(ScaleRgbBilinear, SameSizeReproducesEverySample) {
  const Picture nine = ReadPpm("nine-colours-3x3.ppm");
  const auto out = ScaleRgbBilinear(3, 3, nine.samples.data(), 3, 3);
  ASSERT_TRUE(out);
  EXPECT_EQ(std::vector<uint8_t>(out.get(), out.get() + 27), nine.samples);

  const std::vector<uint8_t> noise = RandomBlock(7, 5, 1);
  const auto same = ScaleRgbBilinear(7, 5, noise.data(), 7, 5);
  ASSERT_TRUE(same);
  EXPECT_EQ(std::vector<uint8_t>(same.get(), same.get() + noise.size()), noise);
}

TEST(ScaleRgbBilinear, DownscalingKeepsTheCorners) {
  const Picture nine = ReadPpm("nine-colours-3x3.ppm");
  const auto out = ScaleRgbBilinear(2, 2, nine.samples.data(), 3, 3);
  ASSERT_TRUE(out);
  EXPECT_EQ(Pixel(out.get(), 2, 0, 0), std::vector<uint8_t>({255, 0, 0}));      // red
  EXPECT_EQ(Pixel(out.get(), 2, 1, 0), std::vector<uint8_t>({0, 0, 255}));      // blue
  EXPECT_EQ(Pixel(out.get(), 2, 0, 1), std::vector<uint8_t>({0, 0, 0}));        // black
  EXPECT_EQ(Pixel(out.get(), 2, 1, 1), std::vector<uint8_t>({255, 255, 255}));  // white
}

TEST(ScaleRgbBilinear, ATargetOfOneTakesTheFirstColumnOrRow) {
  const Picture nine = ReadPpm("nine-colours-3x3.ppm");
  const auto single = ScaleRgbBilinear(1, 1, nine.samples.data(), 3, 3);
  ASSERT_TRUE(single);
  EXPECT_EQ(Pixel(single.get(), 1, 0, 0), std::vector<uint8_t>({255, 0, 0}));

  const auto column = ScaleRgbBilinear(1, 3, nine.samples.data(), 3, 3);
  ASSERT_TRUE(column);
  EXPECT_EQ(Pixel(column.get(), 1, 0, 1), std::vector<uint8_t>({255, 255, 0}));  // yellow
  EXPECT_EQ(Pixel(column.get(), 1, 0, 2), std::vector<uint8_t>({0, 0, 0}));

  const auto row = ScaleRgbBilinear(3, 1, nine.samples.data(), 3, 3);
  ASSERT_TRUE(row);
  EXPECT_EQ(std::vector<uint8_t>(row.get(), row.get() + 9),
            std::vector<uint8_t>(nine.samples.begin(), nine.samples.begin() + 9));
}

TEST(ScaleRgbBilinear, RejectsSizesOfZeroOrLessAndOversizedTargets) {
  const std::vector<uint8_t> block = RandomBlock(4, 4, 2);
  EXPECT_FALSE(ScaleRgbBilinear(0, 4, block.data(), 4, 4));
  EXPECT_FALSE(ScaleRgbBilinear(4, -1, block.data(), 4, 4));
  EXPECT_FALSE(ScaleRgbBilinear(4, 4, block.data(), 0, 4));
  EXPECT_FALSE(ScaleRgbBilinear(4, 4, nullptr, 4, 4));
  EXPECT_FALSE(ScaleRgbBilinear(10000, 5001, block.data(), 4, 4));  // above 50 megapixels
}

TEST(ScaleRgbBilinear, MatchesTheFormulaForEverySmallSize) {
  for (int32_t w = 1; w <= 7; ++w) {
    for (int32_t h = 1; h <= 7; ++h) {
      const std::vector<uint8_t> src = RandomBlock(w, h, static_cast<unsigned>(w * 31 + h));
      for (int32_t W = 1; W <= 9; ++W) {
        for (int32_t H = 1; H <= 9; ++H) ExpectMatchesReference(src, w, h, W, H);
      }
    }
  }
}

TEST(ScaleRgbBilinear, MatchesTheFormulaForSnapshotSizes) {
  ExpectMatchesReference(RandomBlock(640, 480, 3), 640, 480, 200, 200);
  ExpectMatchesReference(RandomBlock(1920, 1080, 4), 1920, 1080, 200, 200);
  ExpectMatchesReference(RandomBlock(180, 240, 5), 180, 240, 200, 200);
  ExpectMatchesReference(RandomBlock(150, 300, 6), 150, 300, 200, 200);
  ExpectMatchesReference(RandomBlock(3, 2, 7), 3, 2, 1000, 333);
}

// c·f of 2^24 is the largest that 32-bit sums hold; one column more needs 64-bit sums.
TEST(ScaleRgbBilinear, MatchesTheFormulaOnBothSidesOfThe32BitLimit) {
  const std::vector<uint8_t> src = RandomBlock(37, 23, 8);
  ExpectMatchesReference(src, 37, 23, 4097, 4097, 61);
  ExpectMatchesReference(src, 37, 23, 4098, 4097, 61);
}

}  // namespace
