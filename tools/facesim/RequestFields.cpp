#include "tools/facesim/RequestFields.h"

#include <cctype>

namespace facesim {

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool RequestFields::Parse(const std::string& body) {
  if (!json_.Parse(body)) {
    error_ = "the body is not JSON: " + json_.GetErrMsg();
    return false;
  }
  if (json_.ToString().rfind('{', 0) != 0) {
    error_ = "the body is not a JSON object";
    return false;
  }
  return true;
}

bool RequestFields::Has(const std::string& name, int type, int otherType, const char* what) {
  // The JSON object looks names up without regard to case and takes the first: that first
  // one must be spelt exactly as asked.
  for (const std::string& key : json_.GetKeys()) {
    if (!SameIgnoringCase(key, name)) continue;
    if (key != name) {
      error_ = "member \"" + key + "\" should be \"" + name + "\"";
      return false;
    }
    const int found = json_.GetType(name);
    if (found != type && found != otherType) {
      error_ = "member \"" + name + "\" is not " + what;
      return false;
    }
    return true;
  }
  error_ = "member \"" + name + "\" is missing";
  return false;
}

bool RequestFields::Text(const std::string& name, std::string* out) {
  return Has(name, neb::kJsonString, neb::kJsonString, "text") && json_.Get(name, *out);
}

bool RequestFields::Number(const std::string& name, double* out) {
  return Has(name, neb::kJsonInt, neb::kJsonDouble, "a number") && json_.Get(name, *out);
}

bool RequestFields::Integer(const std::string& name, int* out) {
  return Has(name, neb::kJsonInt, neb::kJsonInt, "an integer") && json_.Get(name, *out);
}

bool RequestFields::Object(const std::string& name, RequestFields* out) {
  if (!Has(name, neb::kJsonObject, neb::kJsonObject, "an object")) return false;
  json_.Get(name, out->json_);
  return true;
}

}  // namespace facesim
