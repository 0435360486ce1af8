// Writes the compact JSON text of the simulated service's answers and pushed messages, member
// by member, in the order the calls come, without building a tree (a wide answer has millions
// of members). Strings and doubles print as Vestrel's own JSON printer prints them
// (support/JsonPrinter). One writer per answer, on one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace facesim {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The name of the next member of the open object.
  JsonWriter& Key(const std::string& name);
  JsonWriter& String(const std::string& value);
  JsonWriter& Number(double value);
  JsonWriter& Integer(int64_t value);
  JsonWriter& Bool(bool value);
  // count values {} in a row, as a padded list has them.
  JsonWriter& EmptyObjects(int count);

  const std::string& Text() const { return text_; }

 private:
  // A comma before every value of an array and every member of an object but the first.
  void Separate();

  std::string text_;
  std::vector<bool> hasItems_;  // one per open object or array
  bool afterKey_ = false;
};

}  // namespace facesim
