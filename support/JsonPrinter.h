// Compact printing of a JsonNode tree as JSON text: no blanks, doubles with six decimals,
// infinities and NaN as null, so that the text is always valid JSON. Pure; any thread.
#pragma once

#include <string>

#include "support/JsonNode.h"

namespace neb {

// Appends node (not its siblings) to out, without recursion, so any depth prints.
void PrintValue(const JsonNode* node, std::string& out);

}  // namespace neb
