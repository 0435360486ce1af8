// The tree behind neb::CJsonObject: one node per JSON value, with the few helpers that the
// parser, the printer and the document share to make, link and free nodes. Plain data and
// pure functions; a tree is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>

namespace neb {

// Node types.
enum {
  kJsonFalse = 0,
  kJsonTrue = 1,
  kJsonNull = 2,
  kJsonInt = 3,
  kJsonDouble = 4,
  kJsonString = 5,
  kJsonArray = 6,
  kJsonObject = 7,
};

// One JSON value. Allocated zero-filled with calloc, released with free together with its
// strings, its subtree and its following siblings.
struct JsonNode {
  JsonNode* next;  // next member or element of the same object or array
  JsonNode* prev;
  JsonNode* child;     // first member or element; null when empty
  int type;            // one of the kJson* values
  char* stringValue;   // decoded text of a string node, owned
  int64_t intValue;    // integer value; truncation of a double; 1 for true
  double doubleValue;  // numeric value of integer and double nodes
  int sign;            // -1 prints an integer signed, 1 unsigned
  char* key;           // member name inside an object, owned
};

// A zero-filled node of the given type, or null when memory is short.
JsonNode* NewNode(int type);
// Frees node, its subtree and its following siblings, at any depth and width.
void FreeNodes(JsonNode* node);
// A malloc'd copy of text, or null when memory is short.
char* CopyText(const char* text);
// Links node after last (null: as the first child) among parent's children.
void LinkLast(JsonNode* parent, JsonNode* last, JsonNode* node);
// A copy of node's value (its subtree, not its siblings, and without its member name) that
// equals what printing it and parsing the text again gives; null when that is not plain to
// see (a double, or an integer beyond 2^53, prints in a form of its own) or memory is short.
JsonNode* CopyValue(const JsonNode* node);
// The integer view of a double: truncated, saturated at the int64 limits, 0 for NaN.
int64_t TruncateToInt64(double value);

struct NodeFree {
  void operator()(JsonNode* node) const { FreeNodes(node); }
};
struct TextFree {
  void operator()(char* text) const;
};
using NodePtr = std::unique_ptr<JsonNode, NodeFree>;
using TextPtr = std::unique_ptr<char, TextFree>;

}  // namespace neb
