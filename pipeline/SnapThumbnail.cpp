#include "pipeline/SnapThumbnail.h"

#include <memory>
#include <new>

#include "pipeline/BilinearScaler.h"
#include "pipeline/JpegCodec.h"

namespace {

bool Fail(std::string* error, const char* text) {
  if (error != nullptr) *error = text;
  return false;
}

}  // namespace

bool MakeSnapThumbnail(const std::string& sourcePath, const std::string& destinationPath,
                       int32_t maxWidth, int32_t maxHeight, std::string* error) {
  if (sourcePath.empty() || destinationPath.empty()) return Fail(error, "missing path");
  if (maxWidth <= 0 || maxHeight <= 0) return Fail(error, "thumbnail bounds must be positive");
  try {
    int32_t width = 0;
    int32_t height = 0;
    // A damaged face still carries its temperature: made from what decodes.
    std::unique_ptr<uint8_t[]> block =
        DecodeJpegFile(sourcePath, &width, &height, error, JpegDamage::kAccept);
    if (!block) return false;
    if (width > maxWidth || height > maxHeight) {
      block = ScaleRgbBilinear(maxWidth, maxHeight, block.get(), width, height);
      if (!block)
        return Fail(error, "cannot make the thumbnail block (bounds too large or out of memory)");
      width = maxWidth;
      height = maxHeight;
    }
    return EncodeJpegFile(destinationPath, block.get(), height, width, error);
  } catch (const std::bad_alloc&) {
    return Fail(error, "out of memory");
  }
}
