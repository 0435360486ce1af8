#include "tools/facesim/JsonWriter.h"

#include <cmath>
#include <cstdio>

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

void JsonWriter::Quote(const std::string& text) {
  text_ += '"';
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      text_ += '\\';
      text_ += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      text_ += escape;
    } else {
      text_ += c;
    }
  }
  text_ += '"';
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
  Quote(name);
  text_ += ':';
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(const std::string& value) {
  Separate();
  Quote(value);
  return *this;
}

JsonWriter& JsonWriter::Number(double value) {
  Separate();
  if (!std::isfinite(value)) {
    text_ += "null";
    return *this;
  }
  char text[400];  // "%f" of the largest double needs 317 characters
  std::snprintf(text, sizeof text, "%f", value);
  text_ += text;
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
