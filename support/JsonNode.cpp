#include "support/JsonNode.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace neb {

JsonNode* NewNode(int type) {
  auto* node = static_cast<JsonNode*>(calloc(1, sizeof(JsonNode)));
  if (node != nullptr) node->type = type;
  return node;
}

// Without recursion: each child list is spliced in front of the remaining siblings, so every
// node is visited once.
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

void TextFree::operator()(char* text) const { free(text); }

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

namespace {

constexpr int64_t kExactInDouble = int64_t{1} << 53;

// One node's own part, as it reads back from its printed text.
JsonNode* CopyNode(const JsonNode* from, bool withKey) {
  switch (from->type) {
    case kJsonFalse:
    case kJsonTrue:
    case kJsonNull:
    case kJsonInt:
    case kJsonString:
    case kJsonArray:
    case kJsonObject:
      break;
    default:
      return nullptr;
  }
  const bool negative = from->type == kJsonInt && from->sign == -1 && from->intValue < 0;
  if (from->type == kJsonInt &&
      (negative ? from->intValue < -kExactInDouble
                : static_cast<uint64_t>(from->intValue) > static_cast<uint64_t>(kExactInDouble))) {
    return nullptr;
  }
  NodePtr to(NewNode(from->type));
  if (to == nullptr) return nullptr;
  if (from->type == kJsonTrue) to->intValue = 1;
  if (from->type == kJsonInt) {
    to->sign = negative ? -1 : 1;
    to->intValue = from->intValue;
    to->doubleValue = static_cast<double>(from->intValue);
  }
  if (from->type == kJsonString &&
      (to->stringValue = CopyText(from->stringValue != nullptr ? from->stringValue : "")) ==
          nullptr) {
    return nullptr;
  }
  if (withKey && (to->key = CopyText(from->key != nullptr ? from->key : "")) == nullptr) {
    return nullptr;
  }
  return to.release();
}

}  // namespace

// Without recursion, like the parser and the printer.
JsonNode* CopyValue(const JsonNode* node) {
  struct Open {
    const JsonNode* from;
    JsonNode* to;
    JsonNode* last;  // last child linked so far
  };
  NodePtr root;
  std::vector<Open> open;
  const JsonNode* from = node;
  for (;;) {
    JsonNode* to = CopyNode(from, !open.empty() && open.back().from->type == kJsonObject);
    if (to == nullptr) return nullptr;
    if (open.empty()) {
      root.reset(to);
    } else {
      LinkLast(open.back().to, open.back().last, to);
      open.back().last = to;
    }
    if ((from->type == kJsonArray || from->type == kJsonObject) && from->child != nullptr) {
      open.push_back({from, to, nullptr});
      from = from->child;
      continue;
    }
    for (;;) {
      if (open.empty()) return root.release();
      if (from->next != nullptr) {
        from = from->next;
        break;
      }
      from = open.back().from;
      open.pop_back();
    }
  }
}

int64_t TruncateToInt64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775808.0) return INT64_MAX;
  if (value <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(value);
}

}  // namespace neb
