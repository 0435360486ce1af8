// Bilinear resampling of 8-bit RGB blocks for the snapshot thumbnail: corners aligned, exact
// integer arithmetic, halves rounded upward. Stateless; any thread.
#pragma once

#include <cstdint>
#include <memory>

// The largest picture, in pixels, that the thumbnail path decodes or produces.
constexpr int64_t kMaxSnapPixels = 50'000'000;

// Resamples the width x height block at source (three samples per pixel, rows top to bottom, no
// padding) to exactly targetWidth x targetHeight. A target of 1 in a direction takes the first
// source column or row. Returns null when a size is 0 or less, when the target has more than
// kMaxSnapPixels pixels, or when the new block cannot be allocated.
std::unique_ptr<uint8_t[]> ScaleRgbBilinear(int32_t targetWidth, int32_t targetHeight,
                                            const uint8_t* source, int32_t width, int32_t height);
