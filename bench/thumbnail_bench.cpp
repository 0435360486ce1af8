// The snapshot thumbnail (decode, resample to 200 x 200, encode at quality 80) beside its codec
// floor: libjpeg alone decoding the same file at full size and encoding a 200 x 200 block, with
// the same file I/O. Compare BM_SnapThumbnail with BM_SnapThumbnailCodecFloor for each file;
// BM_ScaleRgbBilinear reports target megapixels per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "pipeline/BilinearScaler.h"
#include "pipeline/JpegCodec.h"
#include "pipeline/SnapThumbnail.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int kBound = 200;

const char* const kFiles[] = {"face-640x480.jpg", "face-1920x1080.jpg"};

std::string DataFile(int index) { return std::string(VESTREL_TEST_DATA_DIR) + "/" + kFiles[index]; }

void BM_SnapThumbnail(benchmark::State& state) {
  const std::string source = DataFile(static_cast<int>(state.range(0)));
  TempDir temp;
  const std::string destination = temp / "tmpDest.jpg";
  for (auto _ : state) {
    if (!MakeSnapThumbnail(source, destination, kBound, kBound)) {
      state.SkipWithError("MakeSnapThumbnail failed");
      break;
    }
  }
  state.SetLabel(kFiles[state.range(0)]);
}

// libjpeg with its own (exiting) error handler: the fixtures are known to be good. The block
// encoded is the file's real thumbnail, made before timing, so that both sides compress the
// same pixels.
void BM_SnapThumbnailCodecFloor(benchmark::State& state) {
  const std::string source = DataFile(static_cast<int>(state.range(0)));
  TempDir temp;
  const std::string destination = temp / "tmpDest.jpg";
  int32_t width = 0;
  int32_t height = 0;
  const auto picture = DecodeJpegFile(source, &width, &height);
  const auto thumbnail =
      picture ? ScaleRgbBilinear(kBound, kBound, picture.get(), width, height) : nullptr;
  if (!thumbnail) {
    state.SkipWithError("cannot make the thumbnail block");
    return;
  }
  for (auto _ : state) {
    std::FILE* in = std::fopen(source.c_str(), "rb");
    jpeg_decompress_struct decoder;
    jpeg_error_mgr decodeErrors;
    decoder.err = jpeg_std_error(&decodeErrors);
    jpeg_create_decompress(&decoder);
    jpeg_stdio_src(&decoder, in);
    jpeg_read_header(&decoder, TRUE);
    decoder.out_color_space = JCS_RGB;
    jpeg_start_decompress(&decoder);
    const std::size_t stride = std::size_t{decoder.output_width} * 3;
    std::unique_ptr<uint8_t[]> block(new uint8_t[stride * decoder.output_height]);
    while (decoder.output_scanline < decoder.output_height) {
      JSAMPROW rows[16];
      const JDIMENSION count =
          std::min<JDIMENSION>(16, decoder.output_height - decoder.output_scanline);
      for (JDIMENSION i = 0; i < count; ++i) {
        rows[i] = block.get() + (decoder.output_scanline + i) * stride;
      }
      jpeg_read_scanlines(&decoder, rows, count);
    }
    jpeg_finish_decompress(&decoder);
    jpeg_destroy_decompress(&decoder);
    std::fclose(in);
    benchmark::DoNotOptimize(block.get());

    std::FILE* out = std::fopen(destination.c_str(), "wb");
    jpeg_compress_struct encoder;
    jpeg_error_mgr encodeErrors;
    encoder.err = jpeg_std_error(&encodeErrors);
    jpeg_create_compress(&encoder);
    jpeg_stdio_dest(&encoder, out);
    encoder.image_width = kBound;
    encoder.image_height = kBound;
    encoder.input_components = 3;
    encoder.in_color_space = JCS_RGB;
    jpeg_set_defaults(&encoder);
    jpeg_set_quality(&encoder, 80, TRUE);
    jpeg_start_compress(&encoder, TRUE);
    while (encoder.next_scanline < encoder.image_height) {
      JSAMPROW row = thumbnail.get() + encoder.next_scanline * kBound * 3;
      jpeg_write_scanlines(&encoder, &row, 1);
    }
    jpeg_finish_compress(&encoder);
    jpeg_destroy_compress(&encoder);
    std::fclose(out);
  }
  state.SetLabel(kFiles[state.range(0)]);
}

void BM_ScaleRgbBilinear(benchmark::State& state) {
  int32_t width = 0;
  int32_t height = 0;
  const auto source = DecodeJpegFile(DataFile(static_cast<int>(state.range(0))), &width, &height);
  if (!source) {
    state.SkipWithError("cannot decode the fixture");
    return;
  }
  for (auto _ : state) {
    auto target = ScaleRgbBilinear(kBound, kBound, source.get(), width, height);
    benchmark::DoNotOptimize(target.get());
  }
  state.counters["target_MP/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kBound * kBound / 1e6, benchmark::Counter::kIsRate);
  state.SetLabel(kFiles[state.range(0)]);
}

BENCHMARK(BM_SnapThumbnail)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SnapThumbnailCodecFloor)
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ScaleRgbBilinear)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);

}  // namespace
