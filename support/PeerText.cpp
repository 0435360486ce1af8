#include "support/PeerText.h"

#include <cstdio>

std::string LogSafe(std::string_view peerText) {
  std::string safe;
  safe.reserve(peerText.size());
  for (const char c : peerText) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\r') {
      safe += "\\r";
    } else if (byte == '\n') {
      safe += "\\n";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      safe += escaped;
    } else {
      safe += c;
    }
  }
  return safe;
}
