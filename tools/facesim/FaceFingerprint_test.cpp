#include "tools/facesim/FaceFingerprint.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipeline/SnapThumbnail.h"
#include "tests/support/TempDir.h"

namespace facesim {
namespace {

std::string Data(const std::string& name) {
  return std::string(VESTREL_TEST_DATA_DIR) + "/" + name;
}

uint64_t FileFingerprint(const std::string& path) {
  uint64_t fingerprint = 0;
  std::string error;
  EXPECT_TRUE(FingerprintJpegFile(path, &fingerprint, &error)) << path << ": " << error;
  return fingerprint;
}

// The fingerprint of the snapshot thumbnail that the pipeline makes of a picture.
uint64_t ThumbnailFingerprint(const std::string& name, const TempDir& dir) {
  std::string error;
  EXPECT_TRUE(MakeSnapThumbnail(Data(name), dir / ("thumb-" + name), 200, 200, &error)) << error;
  return FileFingerprint(dir / ("thumb-" + name));
}

TEST(FaceFingerprintTest, ThumbnailMatchesItsPictureAndNotTheOthers) {
  TempDir dir;
  const std::vector<std::string> visitors = {"face-640x480.jpg", "face-camera-640x480.jpg",
                                             "face-chelsea-640x480.jpg"};
  for (const std::string& enrolled : visitors) {
    const uint64_t original = FileFingerprint(Data(enrolled));
    for (const std::string& seen : visitors) {
      const double score = Similarity(original, ThumbnailFingerprint(seen, dir));
      if (seen == enrolled) {
        EXPECT_GE(score, 0.9) << enrolled << " against its own thumbnail";
      } else {
        EXPECT_LE(score, 0.7) << enrolled << " against the thumbnail of " << seen;
      }
    }
  }
}

TEST(FaceFingerprintTest, SameSceneInOtherEncodingsStaysClose) {
  // Grey, progressive and half-size copies of one picture.
  const uint64_t original = FileFingerprint(Data("face-640x480.jpg"));
  for (const char* copy : {"face-gray.jpg", "face-progressive.jpg"}) {
    EXPECT_GE(Similarity(original, FileFingerprint(Data(copy))), 0.9) << copy;
  }
}

TEST(FaceFingerprintTest, SimilarityCountsEqualBits) {
  EXPECT_DOUBLE_EQ(1.0, Similarity(0x0123456789ABCDEFull, 0x0123456789ABCDEFull));
  EXPECT_DOUBLE_EQ(0.0, Similarity(0, ~uint64_t{0}));
  EXPECT_DOUBLE_EQ(62.0 / 64, Similarity(0, 0x8000000000000001ull));
}

TEST(FaceFingerprintTest, BrightnessStepsSetTheirBits) {
  // 90 pixels wide, 10 a cell: the first four cells white, the other five black. In every row
  // only the pair across the edge (cells 3 and 4) sets its bit, the brighter cell on the left.
  const int width = 90, height = 16;
  std::vector<uint8_t> rgb(width * height * 3, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < 40; ++x) {
      for (int c = 0; c < 3; ++c) rgb[(y * width + x) * 3 + c] = 255;
    }
  }
  const uint64_t hash = FingerprintRgb(rgb.data(), width, height);
  for (int row = 0; row < 8; ++row) {
    EXPECT_EQ((hash >> (row * 8)) & 0xFF, 0x08u) << "row " << row;
  }
  // Tiny pictures repeat their pixels instead of dividing by zero.
  const uint8_t pixel[3] = {10, 20, 30};
  EXPECT_EQ(0u, FingerprintRgb(pixel, 1, 1));
}

TEST(FaceFingerprintTest, UndecodablePicturesAreRefused) {
  uint64_t fingerprint = 42;
  std::string error;
  const std::string text = "not a picture";
  EXPECT_FALSE(FingerprintJpeg(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                               &fingerprint, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(FingerprintJpeg(nullptr, 0, &fingerprint, &error));
  for (const char* name : {"truncated.jpg", "empty.jpg", "not-a-jpeg.jpg", "missing.jpg"}) {
    EXPECT_FALSE(FingerprintJpegFile(Data(name), &fingerprint, &error)) << name;
  }
  EXPECT_EQ(42u, fingerprint);
}

}  // namespace
}  // namespace facesim
