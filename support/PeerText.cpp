#include "support/PeerText.h"

#include <cstdio>

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The code point of the UTF-8 sequence at the start of text, and its length in *length; -1
// when the sequence is broken, and *length then spans the lead byte and the continuation
// bytes that follow it, so that a broken sequence is replaced once.
long DecodeUtf8(std::string_view text, std::size_t* length) {
  const auto lead = static_cast<unsigned char>(text[0]);
  *length = 1;
  if (lead < 0x80) return lead;
  std::size_t expected;
  long minimum;
  if (lead >= 0xC0 && lead <= 0xDF) {
    expected = 2;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    expected = 3;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    expected = 4;
    minimum = 0x10000;
  } else {
    return -1;
  }
  long codePoint = lead & (0x7F >> expected);
  while (*length < expected && *length < text.size() &&
         IsContinuation(static_cast<unsigned char>(text[*length]))) {
    codePoint = (codePoint << 6) | (text[*length] & 0x3F);
    ++*length;
  }
  const bool valid = *length == expected && codePoint >= minimum && codePoint <= 0x10FFFF &&
                     !(codePoint >= 0xD800 && codePoint <= 0xDFFF);
  return valid ? codePoint : -1;
}

bool IsXmlChar(long codePoint) {
  if (codePoint < 0x20) return codePoint == '\t' || codePoint == '\n' || codePoint == '\r';
  return codePoint >= 0 && codePoint != 0xFFFE && codePoint != 0xFFFF;
}

}  // namespace

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

std::string XmlSafe(std::string_view peerText, std::size_t maxChars) {
  std::string safe;
  safe.reserve(peerText.size() < maxChars * 4 ? peerText.size() : maxChars * 4);
  for (std::size_t chars = 0; chars < maxChars && !peerText.empty(); ++chars) {
    std::size_t length;
    if (IsXmlChar(DecodeUtf8(peerText, &length))) {
      safe.append(peerText.data(), length);
    } else {
      safe += kReplacement;
    }
    peerText.remove_prefix(length);
  }
  return safe;
}

std::string ValidUtf8(std::string_view peerText) {
  std::string safe;
  safe.reserve(peerText.size());
  while (!peerText.empty()) {
    std::size_t length;
    if (DecodeUtf8(peerText, &length) >= 0) {
      safe.append(peerText.data(), length);
    } else {
      safe += kReplacement;
    }
    peerText.remove_prefix(length);
  }
  return safe;
}
