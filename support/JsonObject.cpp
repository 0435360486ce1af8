#include "support/JsonObject.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "support/JsonParser.h"
#include "support/JsonPrinter.h"

namespace neb {
namespace {

const char kNoMemory[] = "json data is null!";

// Objects with more members than this are looked up through a table of their folded names.
constexpr int kKeyIndexFrom = 16;

int TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483648.0) return INT_MAX;
  if (value <= -2147483649.0) return INT_MIN;
  return static_cast<int>(value);
}

// The member name as compared: up to its first NUL byte, with ASCII case folded.
std::string FoldKey(const char* name) {
  std::string folded(name != nullptr ? name : "");
  for (char& c : folded) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return folded;
}

bool SameKey(const char* name, const std::string& key) {
  if (name == nullptr) return false;
  const char* other = key.c_str();
  for (; *name != '\0' && *other != '\0'; ++name, ++other) {
    if (tolower(static_cast<unsigned char>(*name)) != tolower(static_cast<unsigned char>(*other))) {
      return false;
    }
  }
  return *name == *other;
}

}  // namespace

CJsonObject::CJsonObject() : root_(nullptr) {}

CJsonObject::CJsonObject(const std::string& text) : root_(nullptr) { Parse(text); }

CJsonObject::~CJsonObject() { FreeNodes(root_); }

bool CJsonObject::Parse(const std::string& text) {
  FreeNodes(root_);
  root_ = nullptr;
  ForgetWalk();
  const char* begin = text.c_str();
  JsonParser parser(begin, begin + strlen(begin));
  root_ = parser.Parse();
  if (root_ == nullptr) {
    errMsg_ = parser.ErrorText();
    return false;
  }
  return true;
}

std::string CJsonObject::ToString() const {
  std::string text;
  if (root_ != nullptr) PrintValue(root_, text);
  return text;
}

void CJsonObject::ForgetWalk() {
  size_ = -1;
  cursor_ = nullptr;
  cursorIndex_ = 0;
  last_ = nullptr;
  if (keyIndexBuilt_) keyIndex_.clear();
  keyIndexBuilt_ = false;
}

int CJsonObject::CountMembers() const {
  if (size_ < 0) {
    size_ = 0;
    if (root_ != nullptr && (root_->type == kJsonArray || root_->type == kJsonObject)) {
      for (const JsonNode* node = root_->child; node != nullptr; node = node->next) ++size_;
    }
  }
  return size_;
}

const JsonNode* CJsonObject::FindMember(const std::string& key) const {
  if (root_ == nullptr || root_->type != kJsonObject) return nullptr;
  if (!keyIndexBuilt_ && CountMembers() > kKeyIndexFrom) {
    // Built once, so that a walk over all names costs O(n); the first of equal names wins.
    keyIndex_.reserve(static_cast<size_t>(size_));
    for (const JsonNode* node = root_->child; node != nullptr; node = node->next) {
      if (node->key != nullptr) keyIndex_.emplace(FoldKey(node->key), node);
    }
    keyIndexBuilt_ = true;
  }
  if (keyIndexBuilt_) {
    const auto found = keyIndex_.find(FoldKey(key.c_str()));
    return found != keyIndex_.end() ? found->second : nullptr;
  }
  for (const JsonNode* node = root_->child; node != nullptr; node = node->next) {
    if (SameKey(node->key, key)) return node;
  }
  return nullptr;
}

// Walks from the element found last, or from the start when that is nearer, so that a walk over all
// indexes, up or down, costs O(n) in all.
const JsonNode* CJsonObject::FindElement(int index) const {
  if (root_ == nullptr || root_->type != kJsonArray || index < 0 || index >= CountMembers()) {
    return nullptr;
  }
  if (cursor_ == nullptr || (index < cursorIndex_ && index < cursorIndex_ - index)) {
    cursor_ = root_->child;
    cursorIndex_ = 0;
  }
  while (cursorIndex_ < index) {
    cursor_ = cursor_->next;
    ++cursorIndex_;
  }
  while (cursorIndex_ > index) {
    cursor_ = cursor_->prev;
    --cursorIndex_;
  }
  return cursor_;
}

bool CJsonObject::Get(const std::string& key, CJsonObject& out) const {
  const JsonNode* node = FindMember(key);
  return node != nullptr && CopyOut(node, out);
}

// The copy is made before out is replaced: out may be this object.
bool CJsonObject::CopyOut(const JsonNode* node, CJsonObject& out) {
  JsonNode* copy = CopyValue(node);
  if (copy == nullptr) {
    std::string text;
    PrintValue(node, text);
    return out.Parse(text);
  }
  FreeNodes(out.root_);
  out.root_ = copy;
  out.ForgetWalk();
  return true;
}

bool CJsonObject::Get(const std::string& key, std::string& out) const {
  const JsonNode* node = FindMember(key);
  if (node == nullptr || node->type != kJsonString) return false;
  out = node->stringValue != nullptr ? node->stringValue : "";
  return true;
}

bool CJsonObject::Get(const std::string& key, int& out) const {
  const JsonNode* node = FindMember(key);
  if (node == nullptr) return false;
  if (node->type == kJsonInt) {
    out = static_cast<int32_t>(static_cast<uint32_t>(node->intValue));
    return true;
  }
  if (node->type == kJsonDouble) {
    out = TruncateToInt32(node->doubleValue);
    return true;
  }
  return false;
}

bool CJsonObject::Get(const std::string& key, bool& out) const {
  const JsonNode* node = FindMember(key);
  if (node == nullptr || (node->type != kJsonTrue && node->type != kJsonFalse)) return false;
  out = node->type == kJsonTrue;
  return true;
}

bool CJsonObject::Get(const std::string& key, double& out) const {
  const JsonNode* node = FindMember(key);
  if (node == nullptr || (node->type != kJsonInt && node->type != kJsonDouble)) return false;
  out = node->doubleValue;
  return true;
}

std::vector<std::string> CJsonObject::GetKeys() const {
  std::vector<std::string> keys;
  if (root_ == nullptr || root_->type != kJsonObject) return keys;
  for (const JsonNode* node = root_->child; node != nullptr; node = node->next) {
    keys.emplace_back(node->key != nullptr ? node->key : "");
  }
  return keys;
}

int CJsonObject::GetType(const std::string& key) const {
  const JsonNode* node = FindMember(key);
  return node != nullptr ? node->type : -1;
}

bool CJsonObject::Get(int index, CJsonObject& out) const {
  const JsonNode* node = FindElement(index);
  return node != nullptr && CopyOut(node, out);
}

bool CJsonObject::Get(int index, std::string& out) const {
  const JsonNode* node = FindElement(index);
  if (node == nullptr || node->type != kJsonString) return false;
  out = node->stringValue != nullptr ? node->stringValue : "";
  return true;
}

int CJsonObject::GetArraySize() const {
  if (root_ == nullptr || root_->type != kJsonArray) return 0;
  return CountMembers();
}

bool CJsonObject::CheckNewMember(const std::string& key) {
  if (root_ != nullptr && root_->type != kJsonObject) {
    errMsg_ = "not a json object! json array?";
    return false;
  }
  if (FindMember(key) != nullptr) {
    errMsg_ = "key exists!";
    return false;
  }
  return true;
}

// Takes ownership of value (null when its allocation failed). The root object is created
// only here, so a failed Add leaves an empty object empty.
bool CJsonObject::AppendMember(const std::string& key, JsonNode* value) {
  NodePtr member(value);
  if (member == nullptr || (member->key = CopyText(key.c_str())) == nullptr ||
      (root_ == nullptr && (root_ = NewNode(kJsonObject)) == nullptr)) {
    errMsg_ = kNoMemory;
    return false;
  }
  AppendChild(member.release());
  if (keyIndexBuilt_) keyIndex_.emplace(FoldKey(last_->key), last_);
  return true;
}

// Links child after the root container's last child; takes ownership.
bool CJsonObject::AppendChild(JsonNode* child) {
  if (last_ == nullptr) {
    last_ = root_->child;
    while (last_ != nullptr && last_->next != nullptr) last_ = last_->next;
  }
  LinkLast(root_, last_, child);
  last_ = child;
  if (size_ >= 0) ++size_;
  return true;
}

// A tree of value's document, read back from its text; null (with errMsg_ set) on failure.
JsonNode* CJsonObject::CopyOf(const CJsonObject& value) {
  std::string text = value.ToString();
  JsonParser parser(text.data(), text.data() + text.size());
  JsonNode* copy = parser.Parse();
  if (copy == nullptr) errMsg_ = parser.ErrorText();
  return copy;
}

bool CJsonObject::Add(const std::string& key, const CJsonObject& value) {
  if (!CheckNewMember(key)) return false;
  JsonNode* copy = CopyOf(value);
  return copy != nullptr && AppendMember(key, copy);
}

bool CJsonObject::Add(const CJsonObject& element) {
  if (root_ == nullptr || root_->type != kJsonArray) {
    errMsg_ = "not a json array!";
    return false;
  }
  JsonNode* copy = CopyOf(element);
  return copy != nullptr && AppendChild(copy);
}

bool CJsonObject::Add(const std::string& key, const std::string& value) {
  if (!CheckNewMember(key)) return false;
  JsonNode* node = NewNode(kJsonString);
  if (node != nullptr && (node->stringValue = CopyText(value.c_str())) == nullptr) {
    FreeNodes(node);
    node = nullptr;
  }
  return AppendMember(key, node);
}

bool CJsonObject::Add(const std::string& key, int value) {
  return Add(key, static_cast<int64_t>(value));
}

bool CJsonObject::Add(const std::string& key, int64_t value) {
  if (!CheckNewMember(key)) return false;
  JsonNode* node = NewNode(kJsonInt);
  if (node != nullptr) {
    node->intValue = value;
    node->doubleValue = static_cast<double>(value);
    node->sign = -1;
  }
  return AppendMember(key, node);
}

bool CJsonObject::Add(const std::string& key, double value) {
  if (!CheckNewMember(key)) return false;
  JsonNode* node = NewNode(kJsonDouble);
  if (node != nullptr) {
    node->doubleValue = value;
    node->intValue = TruncateToInt64(value);
    node->sign = -1;
  }
  return AppendMember(key, node);
}

bool CJsonObject::AddBool(const std::string& key, bool value) {
  if (!CheckNewMember(key)) return false;
  JsonNode* node = NewNode(value ? kJsonTrue : kJsonFalse);
  if (node != nullptr && value) node->intValue = 1;
  return AppendMember(key, node);
}

bool CJsonObject::AddNull(const std::string& key) {
  if (!CheckNewMember(key)) return false;
  return AppendMember(key, NewNode(kJsonNull));
}

}  // namespace neb
