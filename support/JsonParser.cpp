#include "support/JsonParser.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace neb {
namespace {

const char kParseErrorPrefix[] = "prase json string error at ";

// Servers are not trusted: an array or object opened at this depth is a parse error.
constexpr size_t kDepthLimit = 1000;
// Exponent digits beyond this cannot change a double; the cap keeps the sum from overflowing.
constexpr long long kExponentCap = 1000000;

double ScaleByPowerOfTen(double magnitude, long long exponent) {
  if (magnitude == 0.0 || exponent == 0) return magnitude;
  if (exponent > 0) return magnitude * std::pow(10.0, static_cast<double>(exponent));
  // Divide in steps so that a long mantissa with a very negative exponent does not go
  // through an infinite power of ten; three steps bring any finite magnitude to zero.
  while (exponent < -300 && magnitude != 0.0 && std::isfinite(magnitude)) {
    magnitude /= 1e300;
    exponent += 300;
  }
  return magnitude / std::pow(10.0, static_cast<double>(-exponent));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads four hex digits at p (p + 4 <= end is checked by the caller).
bool ReadHex4(const char* p, unsigned* value) {
  unsigned result = 0;
  for (int i = 0; i < 4; ++i) {
    int digit = HexValue(p[i]);
    if (digit < 0) return false;
    result = (result << 4) | static_cast<unsigned>(digit);
  }
  *value = result;
  return true;
}

char* AppendUtf8(unsigned codePoint, char* out) {
  if (codePoint < 0x80) {
    *out++ = static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    *out++ = static_cast<char>(0xC0 | (codePoint >> 6));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (codePoint >> 12));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (codePoint >> 18));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  }
  return out;
}

}  // namespace

std::string JsonParser::ErrorText() const { return kParseErrorPrefix + std::string(pos_, end_); }

void JsonParser::SkipBlanks() {
  while (pos_ < end_ && static_cast<unsigned char>(*pos_) >= 0x01 &&
         static_cast<unsigned char>(*pos_) <= 0x20) {
    ++pos_;
  }
}

JsonNode* JsonParser::Parse() {
  struct Open {
    JsonNode* node;
    JsonNode* last;  // last child linked so far
  };
  NodePtr root;
  TextPtr key;  // member name read, value not yet linked
  std::vector<Open> open;
  bool expectValue = true;
  for (;;) {
    if (expectValue) {
      SkipBlanks();
      JsonNode* node;
      bool container = At('[') || At('{');
      if (container) {
        if (open.size() + 1 >= kDepthLimit) return nullptr;
        node = NewNode(*pos_ == '[' ? kJsonArray : kJsonObject);
      } else {
        node = ParseScalar();
      }
      if (node == nullptr) return nullptr;
      node->key = key.release();
      if (open.empty()) {
        root.reset(node);
      } else {
        LinkLast(open.back().node, open.back().last, node);
        open.back().last = node;
      }
      expectValue = false;
      if (!container) continue;
      ++pos_;
      SkipBlanks();
      if (At(node->type == kJsonArray ? ']' : '}')) {
        ++pos_;  // an empty container is never opened: copies of "{}" need no stack
        continue;
      }
      if (node->type == kJsonObject && !ParseKey(key)) return nullptr;
      open.push_back({node, nullptr});
      expectValue = true;
      continue;
    }
    if (open.empty()) return root.release();
    SkipBlanks();
    const JsonNode* top = open.back().node;
    if (At(',')) {
      ++pos_;
      if (top->type == kJsonObject) {
        SkipBlanks();
        if (!ParseKey(key)) return nullptr;
      }
      expectValue = true;
    } else if (At(top->type == kJsonArray ? ']' : '}')) {
      ++pos_;
      open.pop_back();
    } else {
      return nullptr;
    }
  }
}

bool JsonParser::ParseKey(TextPtr& key) {
  if (!At('"')) return false;
  const char* start = pos_;
  key.reset(ParseString());
  if (!key) {
    pos_ = start;
    return false;
  }
  SkipBlanks();
  if (!At(':')) return false;
  ++pos_;
  return true;
}

JsonNode* JsonParser::ParseScalar() {
  if (AtEnd()) return nullptr;
  char c = *pos_;
  if (c == 'n') return ParseLiteral("null", kJsonNull);
  if (c == 'f') return ParseLiteral("false", kJsonFalse);
  if (c == 't') return ParseLiteral("true", kJsonTrue);
  if (c == '-' || IsDigit(c)) return ParseNumber();
  if (c != '"') return nullptr;
  const char* start = pos_;
  char* text = ParseString();
  JsonNode* node = text != nullptr ? NewNode(kJsonString) : nullptr;
  if (node == nullptr) {
    free(text);
    pos_ = start;
    return nullptr;
  }
  node->stringValue = text;
  return node;
}

JsonNode* JsonParser::ParseLiteral(const char* word, int type) {
  size_t length = strlen(word);
  if (static_cast<size_t>(end_ - pos_) < length || memcmp(pos_, word, length) != 0) {
    return nullptr;
  }
  JsonNode* node = NewNode(type);
  if (node == nullptr) return nullptr;
  if (type == kJsonTrue) node->intValue = 1;
  pos_ += length;
  return node;
}

JsonNode* JsonParser::ParseNumber() {
  const char* p = pos_;
  int sign = 1;
  if (*p == '-') {
    sign = -1;
    ++p;
  }
  if (p < end_ && *p == '0') ++p;
  double magnitude = 0.0;
  while (p < end_ && IsDigit(*p)) magnitude = magnitude * 10.0 + (*p++ - '0');
  bool fraction = false;
  long long scale = 0;
  if (p + 1 < end_ && *p == '.' && IsDigit(p[1])) {
    fraction = true;
    ++p;
    while (p < end_ && IsDigit(*p)) {
      magnitude = magnitude * 10.0 + (*p++ - '0');
      --scale;
    }
  }
  long long exponent = 0;
  if (p < end_ && (*p == 'e' || *p == 'E')) {
    ++p;
    int exponentSign = 1;
    if (p < end_ && (*p == '+' || *p == '-')) {
      if (*p == '-') exponentSign = -1;
      ++p;
    }
    while (p < end_ && IsDigit(*p)) {
      exponent = exponent * 10 + (*p++ - '0');
      if (exponent > kExponentCap) exponent = kExponentCap;
    }
    exponent *= exponentSign;
  }
  JsonNode* node = NewNode(fraction || exponent != 0 ? kJsonDouble : kJsonInt);
  if (node == nullptr) return nullptr;
  node->sign = sign;
  if (node->type == kJsonInt) {
    node->doubleValue = sign * magnitude;
    if (sign > 0) {
      // Values from 2^63 up keep their unsigned bits, which the unsigned printing shows.
      uint64_t bits =
          magnitude >= 18446744073709551616.0 ? UINT64_MAX : static_cast<uint64_t>(magnitude);
      node->intValue = static_cast<int64_t>(bits);
    } else {
      node->intValue =
          magnitude >= 9223372036854775808.0 ? INT64_MIN : -static_cast<int64_t>(magnitude);
    }
  } else {
    node->doubleValue = sign * ScaleByPowerOfTen(magnitude, scale + exponent);
    node->intValue = TruncateToInt64(node->doubleValue);
  }
  pos_ = p;
  return node;
}

// At the opening quote. The string ends at the next unescaped quote or at the end of the
// input; escapes only shrink the text, so the raw length bounds the decoded one.
char* JsonParser::ParseString() {
  const char* begin = pos_ + 1;
  const char* close = begin;
  while (close < end_ && *close != '"') {
    if (*close == '\\' && close + 1 < end_) ++close;
    ++close;
  }
  auto* text = static_cast<char*>(malloc(static_cast<size_t>(close - begin) + 1));
  if (text == nullptr) return nullptr;
  char* out = text;
  const char* p = begin;
  while (p < close) {
    char c = *p++;
    if (c != '\\') {
      *out++ = c;
      continue;
    }
    if (p == close) break;  // backslash as the last byte of the input
    char escaped = *p++;
    switch (escaped) {
      case 'b':
        *out++ = '\b';
        break;
      case 'f':
        *out++ = '\f';
        break;
      case 'n':
        *out++ = '\n';
        break;
      case 'r':
        *out++ = '\r';
        break;
      case 't':
        *out++ = '\t';
        break;
      case 'u':
        p = DecodeUnicodeEscape(p, close, &out);
        break;
      default:
        *out++ = escaped;
        break;
    }
  }
  *out = '\0';
  pos_ = close < end_ ? close + 1 : close;
  return text;
}

// p points after "\u". Writes the code point as UTF-8, or nothing for "\u0000", a lone low
// surrogate, an unpaired high surrogate or fewer than four hex digits (those are skipped).
const char* JsonParser::DecodeUnicodeEscape(const char* p, const char* end, char** out) {
  unsigned codePoint;
  if (end - p < 4 || !ReadHex4(p, &codePoint)) {
    for (int i = 0; i < 4 && p < end && HexValue(*p) >= 0; ++i) ++p;
    return p;
  }
  p += 4;
  if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) return p;
  if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
    unsigned low;
    if (end - p < 6 || p[0] != '\\' || p[1] != 'u' || !ReadHex4(p + 2, &low) || low < 0xDC00 ||
        low > 0xDFFF) {
      return p;
    }
    p += 6;
    codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
  }
  if (codePoint != 0) *out = AppendUtf8(codePoint, *out);
  return p;
}

}  // namespace neb
