// Test helper: values inside a JSON text, reached by a path of member names (looked up as the
// JSON object does, without regard to case). A missing member fails the test and gives an
// empty text or -1. Any test thread.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "support/JsonObject.h"

namespace simtest {

// The compact text of the value at the path (the whole document for an empty path).
inline std::string JsonMember(const std::string& text, std::initializer_list<const char*> path) {
  neb::CJsonObject json(text);
  for (const char* key : path) {
    if (!json.Get(key, json)) {
      ADD_FAILURE() << "no member " << key << " in " << text.substr(0, 300);
      return "";
    }
  }
  return json.ToString();
}

inline std::string JsonText(const std::string& text, std::initializer_list<const char*> path) {
  // A string prints quoted: parse it back as the one element of an array.
  neb::CJsonObject array("[" + JsonMember(text, path) + "]");
  std::string value;
  EXPECT_TRUE(array.Get(0, value)) << "not text at the path in " << text.substr(0, 300);
  return value;
}

inline double JsonNumber(const std::string& text, std::initializer_list<const char*> path) {
  neb::CJsonObject wrapper("{\"n\":" + JsonMember(text, path) + "}");
  double value = -1;
  EXPECT_TRUE(wrapper.Get("n", value)) << "not a number at the path in " << text.substr(0, 300);
  return value;
}

}  // namespace simtest
