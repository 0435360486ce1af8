// Walks a simulator's command line: "--name value" pairs, a few flags without a value, and
// --help. Plain function: any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace simtools {

enum class OptionValue { Good, Bad, Unknown };

// Calls handle(name, value) for each option in order (value empty for a flag) and stops at
// --help or -h with *help set. False with *error set for a stray argument, a missing value,
// an option that handle does not know, or a value it finds bad.
bool WalkOptions(
    const std::vector<std::string>& args, const std::vector<std::string>& flags,
    const std::function<OptionValue(const std::string& name, const std::string& value)>& handle,
    bool* help, std::string* error);

}  // namespace simtools
