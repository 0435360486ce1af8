// One parse of one text into a JsonNode tree, without recursion, so that a server's answer
// of any depth or width parses in time linear in its length. A parser object holds the
// position of one parse; parses on different threads never share state.
#pragma once

#include <string>

#include "support/JsonNode.h"

namespace neb {

class JsonParser {
 public:
  // Parses [begin, end); a NUL byte inside is read as any other byte.
  JsonParser(const char* begin, const char* end) : pos_(begin), end_(end) {}

  // The root of the tree (the caller frees it with FreeNodes), or null when the text is not
  // a value; ErrorText() then tells why. Text after the first value is ignored. Containers
  // nested 1000 deep are rejected.
  JsonNode* Parse();
  std::string ErrorText() const;

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

}  // namespace neb
