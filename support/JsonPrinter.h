// Compact printing of a JsonNode tree as JSON text: no blanks, doubles with six decimals,
// infinities and NaN as null, so that the text is always valid JSON. Pure; any thread.
#pragma once

#include <string>
#include <string_view>

#include "support/JsonNode.h"

namespace neb {

// Appends node (not its siblings) to out, without recursion, so any depth prints.
void PrintValue(const JsonNode* node, std::string& out);

// The pieces of the same text, for a writer that streams JSON without a tree: text (UTF-8)
// as a quoted string with its quotes, backslashes and control characters escaped, and a
// double with six decimals (null when not finite).
void PrintString(std::string_view text, std::string& out);
void PrintDouble(double value, std::string& out);

}  // namespace neb
