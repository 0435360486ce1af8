// A small JSON document for the face clients' request bodies and server answers: parse at
// construction, compact printing, typed lookup by key (ASCII case ignored) or array index,
// appending members. One object is used by one thread at a time, even for its const lookups
// (they move the object's walk cursor); any number of objects may parse, print and look up on
// different threads at once (the parser keeps no shared state).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/JsonNode.h"

namespace neb {

// Text handed to this class ends at its first NUL byte, like the text of a server answer.
// Every Get leaves its output unchanged when it returns false (a copy into a CJsonObject
// whose re-parse fails leaves that object empty). Nothing here throws on bad JSON.
class CJsonObject {
 public:
  CJsonObject();
  // Parses text; on failure the object is empty and GetErrMsg() says why.
  explicit CJsonObject(const std::string& text);
  virtual ~CJsonObject();

  CJsonObject(const CJsonObject&) = delete;
  CJsonObject& operator=(const CJsonObject&) = delete;

  // Replaces the document by the one in text. Text after the first value is ignored.
  // Containers nested 1000 deep are rejected.
  bool Parse(const std::string& text);

  // Compact text, no blanks; "" for an empty object. Doubles print with six decimals;
  // infinities and NaN print as null so that the text is always valid JSON.
  std::string ToString() const;

  // Lookup of a member of the root object; the first member whose name matches key without
  // regard to ASCII case wins.
  bool Get(const std::string& key, CJsonObject& out) const;  // copy of any value
  bool Get(const std::string& key, std::string& out) const;  // string member
  bool Get(const std::string& key, int& out) const;          // low 32 bits, or truncated double
  bool Get(const std::string& key, bool& out) const;
  bool Get(const std::string& key, double& out) const;

  // Names of the root object's members in document order, spelt as written (for a reader
  // that must match names with their case); empty for any other root.
  std::vector<std::string> GetKeys() const;
  // Node type (kJson*) of the member that Get would find for key; -1 when there is none.
  int GetType(const std::string& key) const;

  // Elements of a root array, 0-based. Walking every index in order, with GetArraySize()
  // asked on every turn, costs O(n) in all (as does walking GetKeys() with Get by name).
  bool Get(int index, CJsonObject& out) const;
  bool Get(int index, std::string& out) const;
  int GetArraySize() const;

  // Appends a member to the root object (an empty object becomes one). Fails on a root that
  // is not an object and on a name that exists already; the document is unchanged then.
  bool Add(const std::string& key, const CJsonObject& value);
  bool Add(const std::string& key, const std::string& value);
  bool Add(const std::string& key, int value);
  bool Add(const std::string& key, double value);
  bool Add(const std::string& key, int64_t value);
  // Named apart: a bool overload of Add would also take a text given as const char*.
  bool AddBool(const std::string& key, bool value);
  bool AddNull(const std::string& key);

  // Appends an element to the root array (a document parsed from "[]", say). Fails on a
  // root that is not an array; the document is unchanged then.
  bool Add(const CJsonObject& element);

  // Text of the last failure; kept until the next failure, not cleared by a success.
  const std::string& GetErrMsg() const { return errMsg_; }

 private:
  const JsonNode* FindMember(const std::string& key) const;
  const JsonNode* FindElement(int index) const;
  int CountMembers() const;
  static bool CopyOut(const JsonNode* node, CJsonObject& out);
  void ForgetWalk();
  bool CheckNewMember(const std::string& key);
  bool AppendMember(const std::string& key, JsonNode* value);
  bool AppendChild(JsonNode* child);
  JsonNode* CopyOf(const CJsonObject& value);

  JsonNode* root_;
  std::string errMsg_;
  // What walks have learnt about the root container; cleared whenever it is parsed anew.
  mutable int size_ = -1;                     // members or elements; -1 until counted
  mutable const JsonNode* cursor_ = nullptr;  // element found last, at cursorIndex_
  mutable int cursorIndex_ = 0;
  JsonNode* last_ = nullptr;  // last member, once an Add has looked for it
  mutable std::unordered_map<std::string, const JsonNode*> keyIndex_;  // folded name: first
  mutable bool keyIndexBuilt_ = false;
};

}  // namespace neb
