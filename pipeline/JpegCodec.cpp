// libjpeg reports errors through error_exit, which must not return: ours keeps the message and
// jumps back to the call that set up the codec, which destroys it. The functions that call
// setjmp hold no objects with destructors; what outlives a jump (the pixel block, the message)
// lives in the caller's frame.
#include "pipeline/JpegCodec.h"

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstring>
#include <new>

// libjpeg's headers need FILE and size_t declared before them.
// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "platform/FileSystem.h"


namespace {

constexpr int kJpegQuality = 80;
constexpr int kRowsPerRead = 16;

struct JpegErrorManager {
  jpeg_error_mgr pub;  // first member: libjpeg hands back a pointer to it
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool refuseDamage = false;
};

// Warnings after which part of the picture is missing or made up (libjpeg fills the rest with
// grey and goes on). Warnings about markers and metadata leave the pixels intact.
bool LosesPictureData(int code) {
  switch (code) {
    case JWRN_HIT_MARKER:
    case JWRN_JPEG_EOF:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_NOT_SEQUENTIAL:
      return true;
    default:
      return false;
  }
}

// The decoder's progress monitor; it sees the codec between two steps of input.
struct ScanLimit {
  jpeg_progress_mgr pub;  // first member: libjpeg hands back a pointer to it
  JpegErrorManager* errors;
};

[[noreturn]] void JumpBack(JpegErrorManager* errors, const char* text) {
  std::snprintf(errors->message, sizeof errors->message, "%s", text);
  std::longjmp(errors->jump, 1);
}

}  // namespace

extern "C" {

static void JumpBackOnError(j_common_ptr codec) {
  auto* errors = reinterpret_cast<JpegErrorManager*>(codec->err);
  (*codec->err->format_message)(codec, errors->message);
  std::longjmp(errors->jump, 1);
}

// Replaces libjpeg's message routine, which would print to stderr. A warning is counted; one
// that loses picture data (which libjpeg fills in and goes on) ends the decode only when the
// caller refuses damage: otherwise the picture is made from what decodes, as djpeg makes it.
static void CountWarnings(j_common_ptr codec, int level) {
  if (level >= 0) return;
  codec->err->num_warnings++;
  auto* errors = reinterpret_cast<JpegErrorManager*>(codec->err);
  if (errors->refuseDamage && LosesPictureData(codec->err->msg_code)) JumpBackOnError(codec);
}

// Called before each step of input: every new scan is counted before its data is decoded.
static void StopAfterScanLimit(j_common_ptr codec) {
  if (!codec->is_decompressor) return;
  auto* decoder = reinterpret_cast<j_decompress_ptr>(codec);
  if (decoder->input_scan_number > kMaxJpegScans) {
    auto* limit = reinterpret_cast<ScanLimit*>(codec->progress);
    std::snprintf(limit->errors->message, sizeof limit->errors->message,
                  "JPEG picture has more than %d scans", kMaxJpegScans);
    std::longjmp(limit->errors->jump, 1);
  }
}

}  // extern "C"

namespace {

jpeg_error_mgr* InstallErrorManager(JpegErrorManager* errors) {
  jpeg_std_error(&errors->pub);
  errors->pub.error_exit = JumpBackOnError;
  errors->pub.emit_message = CountWarnings;
  errors->message[0] = '\0';
  return &errors->pub;
}

struct DecodeOutput {
  std::unique_ptr<uint8_t[]> block;
  int32_t width = 0;
  int32_t height = 0;
  char message[JMSG_LENGTH_MAX] = {};
};

// Where the decoder reads from: an open file, or else bytes in memory.
struct DecodeSource {
  std::FILE* file = nullptr;
  const uint8_t* data = nullptr;
  std::size_t size = 0;
  JpegDamage damage = JpegDamage::kRefuse;
};

bool RunDecoder(const DecodeSource& source, DecodeOutput* out) {
  jpeg_decompress_struct codec;
  std::memset(&codec, 0, sizeof codec);  // so that destroying it is safe at any point
  JpegErrorManager errors;
  codec.err = InstallErrorManager(&errors);
  errors.refuseDamage = source.damage == JpegDamage::kRefuse;
  ScanLimit scanLimit;
  std::memset(&scanLimit, 0, sizeof scanLimit);
  scanLimit.pub.progress_monitor = StopAfterScanLimit;
  scanLimit.errors = &errors;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&codec);
    out->block.reset();
    std::memcpy(out->message, errors.message, sizeof out->message);
    return false;
  }
  jpeg_create_decompress(&codec);
  codec.progress = &scanLimit.pub;
  if (source.file != nullptr) {
    jpeg_stdio_src(&codec, source.file);
  } else {
    // Empty input ends in error_exit ("Empty input file").
    jpeg_mem_src(&codec, source.data, static_cast<unsigned long>(source.size));
  }
  if (jpeg_read_header(&codec, TRUE) != JPEG_HEADER_OK) JumpBack(&errors, "incomplete JPEG header");
  if (codec.num_components == 4 || codec.jpeg_color_space == JCS_CMYK ||
      codec.jpeg_color_space == JCS_YCCK) {
    JumpBack(&errors, "four-component (CMYK/YCCK) JPEG is not supported");
  }
  if (codec.image_width > kMaxJpegSide || codec.image_height > kMaxJpegSide) {
    char text[JMSG_LENGTH_MAX];
    std::snprintf(text, sizeof text, "JPEG picture of %ux%u pixels is larger than %dx%d",
                  codec.image_width, codec.image_height, kMaxJpegSide, kMaxJpegSide);
    JumpBack(&errors, text);
  }
  codec.out_color_space = JCS_RGB;  // grayscale comes out as three equal samples
  if (!jpeg_start_decompress(&codec) || codec.output_components != 3) {
    JumpBack(&errors, "JPEG decompression did not start");
  }
  const std::size_t stride = std::size_t{codec.output_width} * 3;
  out->block.reset(new (std::nothrow) uint8_t[stride * codec.output_height]);
  if (!out->block) JumpBack(&errors, "cannot allocate the pixel block");
  while (codec.output_scanline < codec.output_height) {
    JSAMPROW rows[kRowsPerRead];
    const JDIMENSION wanted = codec.output_height - codec.output_scanline;
    const int count = wanted < kRowsPerRead ? static_cast<int>(wanted) : kRowsPerRead;
    for (int i = 0; i < count; ++i) {
      rows[i] = out->block.get() + (codec.output_scanline + i) * stride;
    }
    if (jpeg_read_scanlines(&codec, rows, static_cast<JDIMENSION>(count)) == 0) {
      JumpBack(&errors, "JPEG decoder returned no rows");
    }
  }
  jpeg_finish_decompress(&codec);
  out->width = static_cast<int32_t>(codec.output_width);
  out->height = static_cast<int32_t>(codec.output_height);
  jpeg_destroy_decompress(&codec);
  return true;
}

bool RunEncoder(std::FILE* file, const uint8_t* block, int32_t height, int32_t width,
                char (*message)[JMSG_LENGTH_MAX]) {
  jpeg_compress_struct codec;
  std::memset(&codec, 0, sizeof codec);
  JpegErrorManager errors;
  codec.err = InstallErrorManager(&errors);
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_compress(&codec);
    std::memcpy(*message, errors.message, sizeof *message);
    return false;
  }
  jpeg_create_compress(&codec);
  jpeg_stdio_dest(&codec, file);
  codec.image_width = static_cast<JDIMENSION>(width);
  codec.image_height = static_cast<JDIMENSION>(height);
  codec.input_components = 3;
  codec.in_color_space = JCS_RGB;
  jpeg_set_defaults(&codec);
  jpeg_set_quality(&codec, kJpegQuality, TRUE);
  jpeg_start_compress(&codec, TRUE);
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  while (codec.next_scanline < codec.image_height) {
    // libjpeg only reads the row; its interface is not const-correct.
    JSAMPROW row = const_cast<JSAMPROW>(block + codec.next_scanline * stride);
    jpeg_write_scanlines(&codec, &row, 1);
  }
  jpeg_finish_compress(&codec);
  jpeg_destroy_compress(&codec);
  return true;
}

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

std::string OpenError(const char* what, const std::string& path, int code) {
  return std::string(what) + " '" + path + "': " + std::strerror(code);
}

std::unique_ptr<uint8_t[]> TakeDecoded(bool decoded, DecodeOutput* out, int32_t* width,
                                       int32_t* height, std::string* error) {
  if (!decoded) {
    SetError(error, out->message);
    return nullptr;
  }
  if (width != nullptr) *width = out->width;
  if (height != nullptr) *height = out->height;
  return std::move(out->block);
}

}  // namespace

int CountJpegScans(const uint8_t* data, std::size_t size, int limit) {
  constexpr uint8_t kMarker = 0xFF, kStartOfImage = 0xD8, kEndOfImage = 0xD9, kStartOfScan = 0xDA;
  if (size < 2 || data[0] != kMarker || data[1] != kStartOfImage) return 0;
  int scans = 0;
  std::size_t i = 2;
  while (i + 1 < size) {
    const uint8_t code = data[i + 1];
    if (data[i] != kMarker || code == kMarker) {  // entropy-coded data, or a fill byte
      ++i;
    } else if (code == 0x00 || code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
      i += 2;  // a stuffed 0xFF, TEM or a restart marker: no length follows
    } else if (code == kEndOfImage || i + 3 >= size) {
      break;
    } else {
      if (code == kStartOfScan && ++scans > limit) break;
      i += 2 + ((std::size_t{data[i + 2]} << 8) | data[i + 3]);
    }
  }
  return scans;
}

std::unique_ptr<uint8_t[]> DecodeJpegFile(const std::string& path, int32_t* width, int32_t* height,
                                          std::string* error, JpegDamage damage) {
  if (path.empty()) {
    SetError(error, "no source path");
    return nullptr;
  }
  std::FILE* file = platform::OpenOwnFile(path);
  if (file == nullptr) {
    SetError(error, OpenError("cannot open", path, errno));
    return nullptr;
  }
  DecodeSource source;
  source.file = file;
  source.damage = damage;
  DecodeOutput out;
  const bool decoded = RunDecoder(source, &out);
  std::fclose(file);
  return TakeDecoded(decoded, &out, width, height, error);
}

std::unique_ptr<uint8_t[]> DecodeJpegMemory(const uint8_t* data, std::size_t size, int32_t* width,
                                            int32_t* height, std::string* error) {
  if (size > ULONG_MAX) {
    SetError(error, "JPEG data too large");
    return nullptr;
  }
  DecodeSource source;
  source.data = data;
  source.size = size;
  DecodeOutput out;
  const bool decoded = RunDecoder(source, &out);
  return TakeDecoded(decoded, &out, width, height, error);
}

bool EncodeJpegFile(const std::string& path, const uint8_t* block, int32_t height, int32_t width,
                    std::string* error) {
  if (path.empty() || block == nullptr) {
    SetError(error, "no destination path or no pixel block");
    return false;
  }
  if (width <= 0 || height <= 0) {
    SetError(error, "picture size " + std::to_string(width) + "x" + std::to_string(height) +
                        " is not valid");
    return false;
  }
  std::FILE* file = platform::CreatePrivateFile(path);
  if (file == nullptr) {
    SetError(error, OpenError("cannot create", path, errno));
    return false;
  }
  char message[JMSG_LENGTH_MAX] = {};
  const bool encoded = RunEncoder(file, block, height, width, &message);
  const int closeResult = std::fclose(file);
  const int closeCode = errno;
  if (!encoded) {
    SetError(error, message);
    return false;
  }
  if (closeResult != 0) {
    SetError(error, OpenError("cannot write", path, closeCode));
    return false;
  }
  return true;
}
