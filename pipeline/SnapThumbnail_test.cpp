#include "pipeline/SnapThumbnail.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "pipeline/BilinearScaler.h"
#include "pipeline/JpegCodec.h"
#include "tests/support/ManyScanJpeg.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

std::string DataFile(const std::string& name) {
  return std::string(VESTREL_TEST_DATA_DIR) + "/" + name;
}

// What each fixture gives with bounds of 200 x 200: the thumbnail size, or the reason it fails.
struct Outcome {
  int32_t width;
  int32_t height;
  const char* reason;
};

const std::map<std::string, Outcome>& ExpectedOutcomes() {
  static const std::map<std::string, Outcome> outcomes = {
      {"face-640x480.jpg", {200, 200, nullptr}},
      {"face-180x240.jpg", {200, 200, nullptr}},  // width enlarged, height reduced
      {"face-200x200.jpg", {200, 200, nullptr}},
      {"face-400x200.jpg", {200, 200, nullptr}},  // aspect ratio not kept
      {"face-150x300.jpg", {200, 200, nullptr}},
      {"face-small.jpg", {96, 96, nullptr}},  // inside the bounds: re-encoded only
      {"face-1920x1080.jpg", {200, 200, nullptr}},
      {"face-gray.jpg", {200, 200, nullptr}},
      {"face-progressive.jpg", {200, 200, nullptr}},
      {"face-camera-640x480.jpg", {200, 200, nullptr}},
      {"face-camera-small.jpg", {96, 96, nullptr}},
      {"face-chelsea-640x480.jpg", {200, 200, nullptr}},
      {"face-cmyk.jpg", {0, 0, "four-component"}},
      {"truncated.jpg", {200, 200, nullptr}},  // libjpeg only warns: made from what decodes
      {"not-a-jpeg.jpg", {0, 0, "Not a JPEG file: starts with 0x54 0x68"}},
      {"empty.jpg", {0, 0, "Empty input file"}},
  };
  return outcomes;
}

class SnapThumbnailTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }

  // Decodes the thumbnail written by the test; its size, or 0 x 0.
  std::pair<int32_t, int32_t> ThumbnailSize(const std::string& path) {
    int32_t width = 0, height = 0;
    if (!DecodeJpegFile(path, &width, &height)) return {0, 0};
    return {width, height};
  }

  TempDir temp_;
};

TEST_F(SnapThumbnailTest, EveryFixtureGivesItsExpectedOutcome) {
  int checked = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(VESTREL_TEST_DATA_DIR)) {
    if (entry.path().extension() != ".jpg") continue;
    const std::string name = entry.path().filename().string();
    const auto expected = ExpectedOutcomes().find(name);
    ASSERT_NE(expected, ExpectedOutcomes().end()) << "no expected outcome for " << name;
    const std::string destination = temp_ / ("thumb-" + name);
    std::string error;
    const bool made = MakeSnapThumbnail(entry.path().string(), destination, 200, 200, &error);
    if (expected->second.reason == nullptr) {
      ASSERT_TRUE(made) << name << ": " << error;
      EXPECT_EQ(ThumbnailSize(destination),
                std::make_pair(expected->second.width, expected->second.height))
          << name;
    } else {
      EXPECT_FALSE(made) << name;
      EXPECT_THAT(error, HasSubstr(expected->second.reason)) << name;
      EXPECT_FALSE(fs::exists(destination)) << name;
    }
    ++checked;
  }
  EXPECT_EQ(checked, static_cast<int>(ExpectedOutcomes().size()));
}

// Pictures made here: damaged ones that libjpeg only warns about are made from what decodes, as
// djpeg makes them; a picture of more scans than the limit is refused at the first one past it.
TEST_F(SnapThumbnailTest, DamagedPicturesAreMadeAndCostlyOnesRefused) {
  std::ifstream in(DataFile("face-1920x1080.jpg"), std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string corrupt = whole;
  corrupt[whole.size() / 2] = '\xFF';  // a marker in the middle of the entropy-coded data
  corrupt[whole.size() / 2 + 1] = '\xD0';
  const struct { const char* name; std::string bytes; const char* reason; } rows[] = {
      {"cut in half", whole.substr(0, whole.size() / 2), nullptr},
      {"corrupt segment", corrupt, nullptr},
      {"55 scans", MakeManyScanJpeg(64, 48, 5), nullptr},
      {"66 scans", MakeManyScanJpeg(64, 48, 6), "JPEG picture has more than 64 scans"},
      {"704 scans", MakeManyScanJpeg(64, 48), "JPEG picture has more than 64 scans"},
  };
  for (const auto& row : rows) {
    const std::string source = temp_ / "source.jpg";
    std::ofstream(source, std::ios::binary | std::ios::trunc) << row.bytes;
    std::string error;
    const bool made = MakeSnapThumbnail(source, temp_ / "thumb.jpg", 200, 200, &error);
    EXPECT_EQ(made, row.reason == nullptr) << row.name << ": " << error;
    if (row.reason != nullptr) {
      EXPECT_EQ(error, row.reason) << row.name;
    }
  }
}

TEST_F(SnapThumbnailTest, ThumbnailIsTheResampledPicture) {
  int32_t width = 0, height = 0;
  const auto source = DecodeJpegFile(DataFile("face-640x480.jpg"), &width, &height);
  ASSERT_TRUE(source);
  const auto expected = ScaleRgbBilinear(200, 200, source.get(), width, height);
  ASSERT_TRUE(MakeSnapThumbnail(DataFile("face-640x480.jpg"), temp_ / "t.jpg", 200, 200));
  const auto thumbnail = DecodeJpegFile(temp_ / "t.jpg", &width, &height);
  ASSERT_TRUE(thumbnail);
  ASSERT_EQ(width, 200);
  ASSERT_EQ(height, 200);
  long totalDifference = 0;
  for (std::size_t i = 0; i < std::size_t{200} * 200 * 3; ++i) {
    totalDifference += std::abs(int{thumbnail[i]} - int{expected[i]});
  }
  // Quality 80 leaves an average error of a few levels; a shifted or swapped picture far more.
  EXPECT_LT(static_cast<double>(totalDifference) / (200 * 200 * 3), 4.0);
}

TEST_F(SnapThumbnailTest, AGrayscaleSourceGivesAGreyColourThumbnail) {
  int32_t width = 0, height = 0;
  const auto source = DecodeJpegFile(DataFile("face-gray.jpg"), &width, &height);
  ASSERT_TRUE(source);
  for (std::size_t i = 0; i < std::size_t{640} * 480 * 3; i += 3) {
    ASSERT_TRUE(source[i] == source[i + 1] && source[i] == source[i + 2]) << "pixel " << i / 3;
  }
  ASSERT_TRUE(MakeSnapThumbnail(DataFile("face-gray.jpg"), temp_ / "g.jpg", 200, 200));
  const auto thumbnail = DecodeJpegFile(temp_ / "g.jpg", &width, &height);
  ASSERT_TRUE(thumbnail);
  for (std::size_t i = 0; i < std::size_t{200} * 200 * 3; i += 3) {
    ASSERT_NEAR(thumbnail[i], thumbnail[i + 1], 3) << "pixel " << i / 3;
    ASSERT_NEAR(thumbnail[i], thumbnail[i + 2], 3) << "pixel " << i / 3;
  }
}

TEST_F(SnapThumbnailTest, APictureWithinTheBoundsIsOnlyReEncodedAndShrinks) {
  ASSERT_TRUE(MakeSnapThumbnail(DataFile("face-200x200.jpg"), temp_ / "s.jpg", 200, 200));
  EXPECT_EQ(ThumbnailSize(temp_ / "s.jpg"), std::make_pair(200, 200));
  EXPECT_LT(fs::file_size(temp_ / "s.jpg"), fs::file_size(DataFile("face-200x200.jpg")));
}

TEST_F(SnapThumbnailTest, BoundsOfOneWorkAndBoundsOfZeroOrLessFail) {
  ASSERT_TRUE(MakeSnapThumbnail(DataFile("face-640x480.jpg"), temp_ / "one.jpg", 1, 1));
  EXPECT_EQ(ThumbnailSize(temp_ / "one.jpg"), std::make_pair(1, 1));
  ASSERT_TRUE(MakeSnapThumbnail(DataFile("face-640x480.jpg"), temp_ / "col.jpg", 1, 200));
  EXPECT_EQ(ThumbnailSize(temp_ / "col.jpg"), std::make_pair(1, 200));

  std::string error;
  EXPECT_FALSE(MakeSnapThumbnail(DataFile("face-640x480.jpg"), temp_ / "z.jpg", 0, 200, &error));
  EXPECT_FALSE(MakeSnapThumbnail(DataFile("face-640x480.jpg"), temp_ / "z.jpg", 200, -1, &error));
  EXPECT_FALSE(fs::exists(temp_ / "z.jpg"));
}

TEST_F(SnapThumbnailTest, MissingPathsAndAnUnwritableDestinationFail) {
  std::string error;
  EXPECT_FALSE(MakeSnapThumbnail("", temp_ / "x.jpg", 200, 200, &error));
  EXPECT_FALSE(MakeSnapThumbnail(temp_ / "missing.jpg", temp_ / "x.jpg", 200, 200, &error));
  EXPECT_THAT(error, HasSubstr("cannot open"));
  EXPECT_FALSE(MakeSnapThumbnail(DataFile("face-640x480.jpg"), "", 200, 200, &error));
  std::ofstream(temp_ / "file") << "x";
  EXPECT_FALSE(
      MakeSnapThumbnail(DataFile("face-640x480.jpg"), temp_ / "file/x.jpg", 200, 200, &error));
  EXPECT_THAT(error, HasSubstr("cannot create"));
}

}  // namespace
