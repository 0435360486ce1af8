// A valid progressive grey JPEG that costs a decoder far more than its size suggests: every
// coefficient is sent in its own scans, with the deepest successive approximation that libjpeg
// allows (a first scan and ten refinements), so 64 coefficients make 704 scans. Made at test
// or bench time; the big ones are never committed. Stateless; any thread.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

// Scans for `coefficients` coefficients (1 to 64): 11 each.
inline std::string MakeManyScanJpeg(int width, int height, int coefficients = 64) {
  constexpr int kDeepestBit = 10;  // libjpeg's limit for 8-bit samples
  std::vector<jpeg_scan_info> scans;
  for (int k = 0; k < coefficients; ++k) {
    jpeg_scan_info first{};
    first.comps_in_scan = 1;
    first.Ss = k;
    first.Se = k;
    first.Al = kDeepestBit;
    scans.push_back(first);
    for (int bit = kDeepestBit; bit > 0; --bit) {
      jpeg_scan_info refine = first;
      refine.Ah = bit;
      refine.Al = bit - 1;
      scans.push_back(refine);
    }
  }
  // A texture with detail in every band, so that each scan carries data.
  std::vector<uint8_t> row(static_cast<std::size_t>(width));
  jpeg_compress_struct codec;
  jpeg_error_mgr errors;
  codec.err = jpeg_std_error(&errors);  // the test's own input: libjpeg's exit is fine here
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
  while (codec.next_scanline < codec.image_height) {
    const unsigned y = codec.next_scanline;
    for (int x = 0; x < width; ++x) {
      row[static_cast<std::size_t>(x)] =
          static_cast<uint8_t>((x / 8 + y / 16) & 255);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&codec, rows, 1);
  }
  jpeg_finish_compress(&codec);
  jpeg_destroy_compress(&codec);
  std::string bytes(reinterpret_cast<const char*>(out), size);
  std::free(out);
  return bytes;
}
