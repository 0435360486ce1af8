#include "pipeline/JpegCodec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

std::string DataFile(const std::string& name) {
  return std::string(VESTREL_TEST_DATA_DIR) + "/" + name;
}

std::vector<char> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct QuantTables {
  bool progressive = true;
  int lumaFirst = 0, lumaLast = 0, chromaFirst = 0, chromaLast = 0;
};

// Reads the header with libjpeg's default (exiting) error handler: only for files this test
// wrote itself.
QuantTables ReadQuantTables(const std::string& path) {
  QuantTables tables;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return tables;
  jpeg_decompress_struct codec;
  jpeg_error_mgr errors;
  codec.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&codec);
  jpeg_stdio_src(&codec, file);
  jpeg_read_header(&codec, TRUE);
  tables.progressive = codec.progressive_mode != 0;
  tables.lumaFirst = codec.quant_tbl_ptrs[0]->quantval[0];
  tables.lumaLast = codec.quant_tbl_ptrs[0]->quantval[63];
  tables.chromaFirst = codec.quant_tbl_ptrs[1]->quantval[0];
  tables.chromaLast = codec.quant_tbl_ptrs[1]->quantval[63];
  jpeg_destroy_decompress(&codec);
  std::fclose(file);
  return tables;
}

class JpegCodecTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }
  TempDir temp_;
};

// Every fixture, truncated and broken ones included, is decoded by the thumbnail tests; these
// cover what the fixtures cannot.
TEST_F(JpegCodecTest, RejectsAHeaderWithASideLongerThan4096) {
  std::vector<char> bytes = ReadBytes(DataFile("face-small.jpg"));
  std::size_t sof = 0;
  while (sof + 9 < bytes.size() && !(static_cast<unsigned char>(bytes[sof]) == 0xFF &&
                                     static_cast<unsigned char>(bytes[sof + 1]) == 0xC0)) {
    ++sof;
  }
  ASSERT_LT(sof + 9, bytes.size());
  // Height 6000 and width 10000 after the marker, length and precision.
  bytes[sof + 5] = static_cast<char>(6000 >> 8);
  bytes[sof + 6] = static_cast<char>(6000 & 0xFF);
  bytes[sof + 7] = static_cast<char>(10000 >> 8);
  bytes[sof + 8] = static_cast<char>(10000 & 0xFF);
  WriteBytes(temp_ / "huge.jpg", bytes);
  std::string error;
  EXPECT_FALSE(DecodeJpegFile(temp_ / "huge.jpg", nullptr, nullptr, &error));
  EXPECT_THAT(error, HasSubstr("10000x6000 pixels is larger than 4096x4096"));
}

TEST_F(JpegCodecTest, CountsScansWithoutDecodingAndStopsPastTheLimit) {
  for (const auto& [name, scans] : {std::pair{"face-progressive.jpg", 10},
                                    std::pair{"face-640x480.jpg", 1}, std::pair{"not-a-jpeg.jpg", 0}}) {
    const std::vector<char> bytes = ReadBytes(DataFile(name));
    EXPECT_EQ(CountJpegScans(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 64),
              scans) << name;
  }
}

TEST_F(JpegCodecTest, DecodesFromMemoryWhatItDecodesFromTheFile) {
  for (const char* name : {"face-640x480.jpg", "face-gray.jpg", "face-progressive.jpg"}) {
    const std::vector<char> bytes = ReadBytes(DataFile(name));
    int32_t fileWidth = 0, fileHeight = 0, width = 0, height = 0;
    const auto fromFile = DecodeJpegFile(DataFile(name), &fileWidth, &fileHeight);
    const auto fromMemory = DecodeJpegMemory(reinterpret_cast<const uint8_t*>(bytes.data()),
                                             bytes.size(), &width, &height);
    ASSERT_TRUE(fromFile && fromMemory) << name;
    EXPECT_EQ(width, fileWidth);
    EXPECT_EQ(height, fileHeight);
    EXPECT_TRUE(std::equal(fromFile.get(), fromFile.get() + std::size_t(width) * height * 3,
                           fromMemory.get()))
        << name;
  }
  // Damage is refused the same way: nothing, a cut file, text, four components.
  std::string error;
  EXPECT_FALSE(DecodeJpegMemory(nullptr, 0, nullptr, nullptr, &error));
  EXPECT_THAT(error, HasSubstr("Empty input"));
  for (const char* name : {"truncated.jpg", "not-a-jpeg.jpg", "face-cmyk.jpg"}) {
    const std::vector<char> bytes = ReadBytes(DataFile(name));
    error.clear();
    EXPECT_FALSE(DecodeJpegMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                  nullptr, nullptr, &error))
        << name;
    EXPECT_FALSE(error.empty()) << name;
  }
}

TEST_F(JpegCodecTest, EncodesBaselineQuality80ThatDecodesBack) {
  std::vector<uint8_t> block(16 * 8 * 3);
  for (std::size_t i = 0; i < block.size(); i += 3) {
    block[i] = 200;
    block[i + 1] = 100;
    block[i + 2] = 50;
  }
  const std::string path = temp_ / "out.jpg";
  std::string error;
  ASSERT_TRUE(EncodeJpegFile(path, block.data(), 8, 16, &error)) << error;
  int32_t width = 0, height = 0;
  const auto decoded = DecodeJpegFile(path, &width, &height);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(width, 16);
  EXPECT_EQ(height, 8);
  for (std::size_t i = 0; i < block.size(); ++i) {
    EXPECT_NEAR(decoded[i], block[i], 4) << "sample " << i;
  }
  // Quality 80 scales the standard tables to 40 %: DC 16 -> 6 and 17 -> 7, the last 99 -> 40.
  const QuantTables tables = ReadQuantTables(path);
  EXPECT_FALSE(tables.progressive);
  EXPECT_EQ(tables.lumaFirst, 6);
  EXPECT_EQ(tables.lumaLast, 40);
  EXPECT_EQ(tables.chromaFirst, 7);
  EXPECT_EQ(tables.chromaLast, 40);
  const std::vector<char> bytes = ReadBytes(path);
  const char sof0[] = {'\xFF', '\xC0'};
  EXPECT_NE(std::search(bytes.begin(), bytes.end(), sof0, sof0 + 2), bytes.end());
}

TEST_F(JpegCodecTest, EncoderErrorsBecomeFalse) {
  const std::vector<uint8_t> block(64 * 64 * 3, 90);
  std::string error;
  EXPECT_FALSE(EncodeJpegFile(temp_ / "zero.jpg", block.data(), 0, 64, &error));
  EXPECT_FALSE(EncodeJpegFile(temp_ / "none.jpg", nullptr, 64, 64, &error));
  EXPECT_FALSE(EncodeJpegFile(temp_ / "missing/out.jpg", block.data(), 64, 64, &error));
  EXPECT_THAT(error, HasSubstr("cannot create"));
  // A block wider than libjpeg allows fails inside the library and comes back.
  const std::vector<uint8_t> wide(70000 * 3, 1);
  EXPECT_FALSE(EncodeJpegFile(temp_ / "wide.jpg", wide.data(), 1, 70000, &error));
  EXPECT_THAT(error, HasSubstr("Maximum supported image dimension"));
  if (fs::exists("/dev/full")) {
    EXPECT_FALSE(EncodeJpegFile("/dev/full", block.data(), 64, 64, &error));
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
