#include "tools/facesim/JsonWriter.h"

#include "support/JsonPrinter.h"

namespace facesim {

void JsonWriter::Separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!hasItems_.empty()) {
    if (hasItems_.back()) text_ += ',';
    hasItems_.back() = true;
  }
}

JsonWriter& JsonWriter::BeginObject() {
  Separate();
  text_ += '{';
  hasItems_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  text_ += '}';
  hasItems_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  Separate();
  text_ += '[';
  hasItems_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  text_ += ']';
  hasItems_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::Key(const std::string& name) {
  Separate();
  neb::PrintString(name, text_);
  text_ += ':';
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(const std::string& value) {
  Separate();
  neb::PrintString(value, text_);
  return *this;
}

JsonWriter& JsonWriter::Number(double value) {
  Separate();
  neb::PrintDouble(value, text_);
  return *this;
}

JsonWriter& JsonWriter::Integer(int64_t value) {
  Separate();
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::EmptyObjects(int count) {
  for (int i = 0; i < count; ++i) BeginObject().EndObject();
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  Separate();
  text_ += value ? "true" : "false";
  return *this;
}

}  // namespace facesim
