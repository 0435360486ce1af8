// The fingerprint by which the simulated service recognises a picture: a 64-bit difference
// hash. The picture is reduced to a 9x8 grey copy, each cell the mean of the pixels it
// covers, and bit (row * 8 + column) is set when a cell is brighter than its right-hand
// neighbour. Averaging whole areas (rather than sampling points) is what lets the hash
// survive scaling and JPEG re-encoding. Stateless; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace facesim {

// Of an RGB block (three samples per pixel, rows top to bottom, no padding); width and
// height at least 1.
uint64_t FingerprintRgb(const uint8_t* rgb, int32_t width, int32_t height);

// Of JPEG data in memory or in a file; false with *error set when it does not decode.
bool FingerprintJpeg(const uint8_t* data, std::size_t size, uint64_t* fingerprint,
                     std::string* error);
bool FingerprintJpegFile(const std::string& path, uint64_t* fingerprint, std::string* error);

// The share of equal bits, from 0 (all differ) to 1 (identical), in steps of 1/64.
double Similarity(uint64_t a, uint64_t b);

}  // namespace facesim
