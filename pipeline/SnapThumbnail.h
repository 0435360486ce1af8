// The snapshot thumbnail: a face JPEG file reduced to the configured bounds and written again
// as a quality-80 JPEG file. Runs on the caller's thread (the SDK callback thread); stateless,
// so calls on different files may run at once.
#pragma once

#include <cstdint>
#include <string>

// Decodes source, resamples it to exactly maxWidth x maxHeight when it is wider or taller than
// that (the aspect ratio is not kept), and encodes the result to destination; a picture inside
// both bounds is only re-encoded. Fails for bounds of 0 or less. On failure *error (when given)
// says why and the destination may be missing or partly written.
bool MakeSnapThumbnail(const std::string& sourcePath, const std::string& destinationPath,
                       int32_t maxWidth, int32_t maxHeight, std::string* error = nullptr);
