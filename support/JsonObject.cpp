#include "support/JsonObject.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace neb {
namespace {

const char kParseErrorPrefix[] = "prase json string error at ";
const char kNoMemory[] = "json data is null!";

// Servers are not trusted: an array or object opened at this depth is a parse error.
constexpr size_t kDepthLimit = 1000;
// Exponent digits beyond this cannot change a double; the cap keeps the sum from overflowing.
constexpr long long kExponentCap = 1000000;

JsonNode* NewNode(int type) {
  auto* node = static_cast<JsonNode*>(calloc(1, sizeof(JsonNode)));
  if (node != nullptr) node->type = type;
  return node;
}

// Frees node, its subtree and its following siblings without recursion: each child list is
// spliced in front of the remaining siblings, so every node is visited once.
void FreeNodes(JsonNode* node) {
  while (node != nullptr) {
    JsonNode* rest = node->next;
    if (node->child != nullptr) {
      JsonNode* last = node->child;
      while (last->next != nullptr) last = last->next;
      last->next = rest;
      rest = node->child;
    }
    free(node->stringValue);
    free(node->key);
    free(node);
    node = rest;
  }
}

struct NodeFree {
  void operator()(JsonNode* node) const { FreeNodes(node); }
};
struct TextFree {
  void operator()(char* text) const { free(text); }
};
using NodePtr = std::unique_ptr<JsonNode, NodeFree>;
using TextPtr = std::unique_ptr<char, TextFree>;

char* CopyText(const char* text) {
  size_t size = strlen(text) + 1;
  auto* copy = static_cast<char*>(malloc(size));
  if (copy != nullptr) memcpy(copy, text, size);
  return copy;
}

void LinkLast(JsonNode* parent, JsonNode* last, JsonNode* node) {
  node->prev = last;
  if (last == nullptr) {
    parent->child = node;
  } else {
    last->next = node;
  }
}

int64_t TruncateToInt64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775808.0) return INT64_MAX;
  if (value <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(value);
}

int TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483648.0) return INT_MAX;
  if (value <= -2147483649.0) return INT_MIN;
  return static_cast<int>(value);
}

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

// One parse of one text. The position where it stopped stays in this object, so parses on
// different threads never see each other's error position.
class JsonParser {
 public:
  JsonParser(const char* begin, const char* end) : pos_(begin), end_(end) {}

  // The root of the tree, or null when the text is not a value; ErrorText() then tells why.
  JsonNode* Parse();
  std::string ErrorText() const { return kParseErrorPrefix + std::string(pos_, end_); }

 private:
  bool AtEnd() const { return pos_ >= end_; }
  bool At(char c) const { return pos_ < end_ && *pos_ == c; }
  void SkipBlanks();
  JsonNode* ParseScalar();
  JsonNode* ParseLiteral(const char* word, int type);
  JsonNode* ParseNumber();
  char* ParseString();
  bool ParseKey(TextPtr& key);
  const char* DecodeUnicodeEscape(const char* p, const char* end, char** out);

  const char* pos_;
  const char* const end_;
};

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
      open.push_back({node, nullptr});
      SkipBlanks();
      if (At(node->type == kJsonArray ? ']' : '}')) {
        ++pos_;
        open.pop_back();
      } else if (node->type == kJsonObject) {
        if (!ParseKey(key)) return nullptr;
        expectValue = true;
      } else {
        expectValue = true;
      }
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

void PrintString(const char* text, std::string& out) {
  out += '"';
  for (const char* p = text != nullptr ? text : ""; *p != '\0'; ++p) {
    auto c = static_cast<unsigned char>(*p);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c < 0x20) {
          char escape[8];
          snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

void PrintNumber(const JsonNode* node, std::string& out) {
  char text[400];  // "%f" of the largest double needs 317 characters
  if (node->type == kJsonDouble) {
    if (!std::isfinite(node->doubleValue)) {
      out += "null";
      return;
    }
    snprintf(text, sizeof text, "%f", node->doubleValue);
  } else if (node->sign == -1) {
    if (node->intValue >= INT_MIN && node->intValue <= INT_MAX) {
      snprintf(text, sizeof text, "%d", static_cast<int>(node->intValue));
    } else {
      snprintf(text, sizeof text, "%lld", static_cast<long long>(node->intValue));
    }
  } else {
    auto bits = static_cast<uint64_t>(node->intValue);
    if ((bits >> 32) == 0) {
      snprintf(text, sizeof text, "%u", static_cast<unsigned>(bits));
    } else {
      snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(bits));
    }
  }
  out += text;
}

// Prints node (not its siblings) without recursion, so any depth that Add can build prints.
void PrintValue(const JsonNode* node, std::string& out) {
  std::vector<const JsonNode*> open;
  for (;;) {
    if (!open.empty() && open.back()->type == kJsonObject) {
      PrintString(node->key, out);
      out += ':';
    }
    switch (node->type) {
      case kJsonFalse:
        out += "false";
        break;
      case kJsonTrue:
        out += "true";
        break;
      case kJsonInt:
      case kJsonDouble:
        PrintNumber(node, out);
        break;
      case kJsonString:
        PrintString(node->stringValue, out);
        break;
      case kJsonArray:
      case kJsonObject:
        out += node->type == kJsonArray ? '[' : '{';
        if (node->child != nullptr) {
          open.push_back(node);
          node = node->child;
          continue;
        }
        out += node->type == kJsonArray ? ']' : '}';
        break;
      default:
        out += "null";
        break;
    }
    for (;;) {
      if (open.empty()) return;
      if (node->next != nullptr) {
        out += ',';
        node = node->next;
        break;
      }
      node = open.back();
      open.pop_back();
      out += node->type == kJsonArray ? ']' : '}';
    }
  }
}

bool SameKey(const char* name, const std::string& key) {
  if (name == nullptr) return false;
  const char* other = key.c_str();
  for (; *name != '\0' && *other != '\0'; ++name, ++other) {
    if (tolower(static_cast<unsigned char>(*name)) != tolower(static_cast<unsigned char>(*other))) {
      return false;
    }
  }
  return *name == *other;
}

}  // namespace

CJsonObject::CJsonObject() : root_(nullptr) {}

CJsonObject::CJsonObject(const std::string& text) : root_(nullptr) { Parse(text); }

CJsonObject::~CJsonObject() { FreeNodes(root_); }

bool CJsonObject::Parse(const std::string& text) {
  FreeNodes(root_);
  root_ = nullptr;
  const char* begin = text.c_str();
  JsonParser parser(begin, begin + strlen(begin));
  root_ = parser.Parse();
  if (root_ == nullptr) {
    errMsg_ = parser.ErrorText();
    return false;
  }
  return true;
}

std::string CJsonObject::ToString() const {
  std::string text;
  if (root_ != nullptr) PrintValue(root_, text);
  return text;
}

const JsonNode* CJsonObject::FindMember(const std::string& key) const {
  if (root_ == nullptr || root_->type != kJsonObject) return nullptr;
  for (const JsonNode* node = root_->child; node != nullptr; node = node->next) {
    if (SameKey(node->key, key)) return node;
  }
  return nullptr;
}

const JsonNode* CJsonObject::FindElement(int index) const {
  if (root_ == nullptr || root_->type != kJsonArray || index < 0) return nullptr;
  const JsonNode* node = root_->child;
  for (; node != nullptr && index > 0; --index) node = node->next;
  return node;
}

bool CJsonObject::Get(const std::string& key, CJsonObject& out) const {
  const JsonNode* node = FindMember(key);
  if (node == nullptr) return false;
  std::string text;
  PrintValue(node, text);  // before out.Parse: out may be this object
  return out.Parse(text);
}

bool CJsonObject::Get(const std::string& key, std::string& out) const {
  const JsonNode* node = FindMember(key);
  if (node == nullptr || node->type != kJsonString) return false;
  out = node->stringValue != nullptr ? node->stringValue : "";
  return true;
}

bool CJsonObject::Get(const std::string& key, int& out) const {
  const JsonNode* node = FindMember(key);
  if (node == nullptr) return false;
  if (node->type == kJsonInt) {
    out = static_cast<int32_t>(static_cast<uint32_t>(node->intValue));
    return true;
  }
  if (node->type == kJsonDouble) {
    out = TruncateToInt32(node->doubleValue);
    return true;
  }
  return false;
}

bool CJsonObject::Get(const std::string& key, bool& out) const {
  const JsonNode* node = FindMember(key);
  if (node == nullptr || (node->type != kJsonTrue && node->type != kJsonFalse)) return false;
  out = node->type == kJsonTrue;
  return true;
}

bool CJsonObject::Get(const std::string& key, double& out) const {
  const JsonNode* node = FindMember(key);
  if (node == nullptr || (node->type != kJsonInt && node->type != kJsonDouble)) return false;
  out = node->doubleValue;
  return true;
}

std::vector<std::string> CJsonObject::GetKeys() const {
  std::vector<std::string> keys;
  if (root_ == nullptr || root_->type != kJsonObject) return keys;
  for (const JsonNode* node = root_->child; node != nullptr; node = node->next) {
    keys.emplace_back(node->key != nullptr ? node->key : "");
  }
  return keys;
}

int CJsonObject::GetType(const std::string& key) const {
  const JsonNode* node = FindMember(key);
  return node != nullptr ? node->type : -1;
}

bool CJsonObject::Get(int index, CJsonObject& out) const {
  const JsonNode* node = FindElement(index);
  if (node == nullptr) return false;
  std::string text;
  PrintValue(node, text);
  return out.Parse(text);
}

bool CJsonObject::Get(int index, std::string& out) const {
  const JsonNode* node = FindElement(index);
  if (node == nullptr || node->type != kJsonString) return false;
  out = node->stringValue != nullptr ? node->stringValue : "";
  return true;
}

int CJsonObject::GetArraySize() const {
  if (root_ == nullptr || root_->type != kJsonArray) return 0;
  int size = 0;
  for (const JsonNode* node = root_->child; node != nullptr; node = node->next) ++size;
  return size;
}

bool CJsonObject::CheckNewMember(const std::string& key) {
  if (root_ != nullptr && root_->type != kJsonObject) {
    errMsg_ = "not a json object! json array?";
    return false;
  }
  if (FindMember(key) != nullptr) {
    errMsg_ = "key exists!";
    return false;
  }
  return true;
}

// Takes ownership of value (null when its allocation failed). The root object is created
// only here, so a failed Add leaves an empty object empty.
bool CJsonObject::AppendMember(const std::string& key, JsonNode* value) {
  NodePtr member(value);
  if (member == nullptr || (member->key = CopyText(key.c_str())) == nullptr ||
      (root_ == nullptr && (root_ = NewNode(kJsonObject)) == nullptr)) {
    errMsg_ = kNoMemory;
    return false;
  }
  JsonNode* last = root_->child;
  while (last != nullptr && last->next != nullptr) last = last->next;
  LinkLast(root_, last, member.release());
  return true;
}

bool CJsonObject::Add(const std::string& key, const CJsonObject& value) {
  if (!CheckNewMember(key)) return false;
  std::string text = value.ToString();
  JsonParser parser(text.data(), text.data() + text.size());
  JsonNode* copy = parser.Parse();
  if (copy == nullptr) {
    errMsg_ = parser.ErrorText();
    return false;
  }
  return AppendMember(key, copy);
}

bool CJsonObject::Add(const std::string& key, const std::string& value) {
  if (!CheckNewMember(key)) return false;
  JsonNode* node = NewNode(kJsonString);
  if (node != nullptr && (node->stringValue = CopyText(value.c_str())) == nullptr) {
    FreeNodes(node);
    node = nullptr;
  }
  return AppendMember(key, node);
}

bool CJsonObject::Add(const std::string& key, int value) {
  if (!CheckNewMember(key)) return false;
  JsonNode* node = NewNode(kJsonInt);
  if (node != nullptr) {
    node->intValue = value;
    node->doubleValue = value;
    node->sign = -1;
  }
  return AppendMember(key, node);
}

bool CJsonObject::Add(const std::string& key, double value) {
  if (!CheckNewMember(key)) return false;
  JsonNode* node = NewNode(kJsonDouble);
  if (node != nullptr) {
    node->doubleValue = value;
    node->intValue = TruncateToInt64(value);
    node->sign = -1;
  }
  return AppendMember(key, node);
}

}  // namespace neb
