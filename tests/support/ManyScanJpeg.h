// A valid progressive grey JPEG that costs a decoder far more than its size suggests: each
// coefficient comes in a first scan and ten refinements, the most that libjpeg allows for 8-bit
// samples, so 64 coefficients make 704 scans, each walking the whole picture. Made at test or
// bench time, never committed. Stateless; any thread.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

inline std::string MakeManyScanJpeg(int width, int height, int coefficients = 64) {
  std::vector<jpeg_scan_info> scans;
  for (int k = 0; k < coefficients; ++k) {
    for (int bit = 10; bit >= 0; --bit) {  // first Ah 0 / Al 10, then refinements Ah n / Al n-1
      scans.push_back({1, {0, 0, 0, 0}, k, k, bit == 10 ? 0 : bit + 1, bit});
    }
  }
  jpeg_compress_struct codec;
  jpeg_error_mgr errors;
  codec.err = jpeg_std_error(&errors);  // the test's own picture: libjpeg's exit is fine here
  jpeg_create_compress(&codec);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&codec, &out, &size);
  codec.image_width = static_cast<JDIMENSION>(width);
  codec.image_height = static_cast<JDIMENSION>(height);
  codec.input_components = 1;
  codec.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&codec);
  jpeg_set_quality(&codec, 90, TRUE);
  codec.scan_info = scans.data();
  codec.num_scans = static_cast<int>(scans.size());
  jpeg_start_compress(&codec, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width));
  for (JSAMPROW rows[1] = {row.data()}; codec.next_scanline < codec.image_height;) {
    for (int x = 0; x < width; ++x) row[x] = static_cast<JSAMPLE>(x / 8 + codec.next_scanline / 16);
    jpeg_write_scanlines(&codec, rows, 1);
  }
  jpeg_finish_compress(&codec);
  jpeg_destroy_compress(&codec);
  std::string bytes(reinterpret_cast<const char*>(out), size);
  std::free(out);
  return bytes;
}
