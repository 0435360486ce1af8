// libFuzzer target for neb::CJsonObject: parse, print, and parse the printed text again,
// which must always succeed; also the typed getters and walks over every element and member.
// Run with scripts/fuzz.sh (see there).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/JsonObject.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  neb::CJsonObject json;
  if (!json.Parse(text)) {
    if (json.GetErrMsg().compare(0, 27, "prase json string error at ") != 0) abort();
    return 0;
  }
  const std::string printed = json.ToString();
  neb::CJsonObject again;
  if (!again.Parse(printed)) abort();
  if (again.ToString().empty()) abort();

  // Lookups by a few keys taken from the input, and copies of the first elements.
  std::string key = text.substr(0, 4);
  std::string s;
  int i;
  bool b;
  double d;
  neb::CJsonObject copy;
  json.Get(key, s);
  json.Get(key, i);
  json.Get(key, b);
  json.Get(key, d);
  json.Get(key, copy);
  // Every element and member, walked the way the face clients walk their lists: a wide
  // input must not make the walk quadratic (libFuzzer's -timeout catches that).
  for (int index = 0; index < json.GetArraySize(); ++index) {
    json.Get(index, s);
    json.Get(index, copy);
  }
  for (const std::string& name : json.GetKeys()) json.Get(name, copy);
  neb::CJsonObject holder;
  holder.Add(key, json);
  holder.ToString();
  return 0;
}
