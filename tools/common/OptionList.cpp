#include "tools/common/OptionList.h"

#include <algorithm>

namespace simtools {

bool WalkOptions(
    const std::vector<std::string>& args, const std::vector<std::string>& flags,
    const std::function<OptionValue(const std::string& name, const std::string& value)>& handle,
    bool* help, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") {
      *help = true;
      return true;
    }
    if (name.rfind("--", 0) != 0) {
      *error = "unexpected argument '" + name + "'";
      return false;
    }
    const bool flag = std::find(flags.begin(), flags.end(), name) != flags.end();
    if (!flag && i + 1 >= args.size()) {
      *error = name + " needs a value";
      return false;
    }
    const std::string value = flag ? std::string() : args[++i];
    switch (handle(name, value)) {
      case OptionValue::Good:
        break;
      case OptionValue::Unknown:
        *error = "unknown option " + name;
        return false;
      case OptionValue::Bad:
        *error = "bad value for " + name + ": '" + value + "'";
        return false;
    }
  }
  return true;
}

}  // namespace simtools
