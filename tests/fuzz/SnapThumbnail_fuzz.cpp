// libFuzzer target for the thumbnail path: the input is a "JPEG" file that is decoded,
// resampled to the 200 x 200 bound and encoded again. Nothing may crash; a success must leave
// a decodable picture. Run with scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "pipeline/JpegCodec.h"
#include "pipeline/SnapThumbnail.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string base = "/tmp/vestrel-thumb-fuzz-" + std::to_string(std::random_device{}());
  static const std::string source = base + "-src.jpg";
  static const std::string destination = base + "-dst.jpg";
  {
    std::ofstream out(source, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  if (MakeSnapThumbnail(source, destination, 200, 200)) {
    int32_t width = 0;
    int32_t height = 0;
    if (DecodeJpegFile(destination, &width, &height) == nullptr) abort();
    if (width > 200 || height > 200) abort();
  }
  return 0;
}
