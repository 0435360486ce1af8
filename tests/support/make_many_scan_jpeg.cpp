// Writes the many-scan picture of ManyScanJpeg.h to a file, for the load bench and the fuzz
// corpus. Usage: vestrel-many-scan-jpeg WIDTH HEIGHT OUTPUT [COEFFICIENTS]
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/support/ManyScanJpeg.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s WIDTH HEIGHT OUTPUT [COEFFICIENTS]\n", argv[0]);
    return 2;
  }
  const int width = std::atoi(argv[1]);
  const int height = std::atoi(argv[2]);
  const int coefficients = argc > 4 ? std::atoi(argv[4]) : 64;
  if (width <= 0 || height <= 0 || coefficients < 1 || coefficients > 64) {
    std::fprintf(stderr, "bad size or coefficient count\n");
    return 2;
  }
  const std::string bytes = MakeManyScanJpeg(width, height, coefficients);
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}
