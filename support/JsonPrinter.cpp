#include "support/JsonPrinter.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <vector>

namespace neb {

void PrintString(std::string_view text, std::string& out) {
  out += '"';
  for (const char byte : text) {
    auto c = static_cast<unsigned char>(byte);
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

void PrintDouble(double value, std::string& out) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char text[400];  // "%f" of the largest double needs 317 characters
  snprintf(text, sizeof text, "%f", value);
  out += text;
}

namespace {

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

void PrintNumber(const JsonNode* node, std::string& out) {
  if (node->type == kJsonDouble) {
    PrintDouble(node->doubleValue, out);
    return;
  }
  char text[32];
  if (node->sign == -1) {
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

}  // namespace

void PrintValue(const JsonNode* node, std::string& out) {
  std::vector<const JsonNode*> open;
  for (;;) {
    if (!open.empty() && open.back()->type == kJsonObject) {
      PrintString(OrEmpty(node->key), out);
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
        PrintString(OrEmpty(node->stringValue), out);
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

}  // namespace neb
