// libFuzzer target for the decoding of the FRS event stream's messages, recognised and not
// recognised. A decoded result must carry a group code that the system knows. Run with
// scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "faceclient/VerifyResult.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string payload(reinterpret_cast<const char*>(data), size);
  VerifyResult result;
  if (DecodeRecognizedMessage(payload, &result)) {
    if (result.groupId != -2 && (result.groupId < 1 || result.groupId > 3)) abort();
  }
  VerifyResult other;
  if (DecodeUnrecognizedMessage(payload, &other) && other.groupId != -1) abort();
  return 0;
}
