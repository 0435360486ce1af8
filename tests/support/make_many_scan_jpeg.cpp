// Writes the many-scan picture of ManyScanJpeg.h, for the load bench and the fuzz corpus.
// Usage: vestrel-many-scan-jpeg WIDTH HEIGHT OUTPUT
#include <fstream>

#include "tests/support/ManyScanJpeg.h"

int main(int argc, char** argv) {
  if (argc != 4 || std::atoi(argv[1]) <= 0 || std::atoi(argv[2]) <= 0) {
    std::fprintf(stderr, "usage: %s WIDTH HEIGHT OUTPUT\n", argv[0]);
    return 2;
  }
  const std::string bytes = MakeManyScanJpeg(std::atoi(argv[1]), std::atoi(argv[2]));
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}
