// The walk over a person's group names that the face services share: "Blacklist" wins and
// ends the walk, a later "VIP" or "Employee" overrides an earlier one, and the group name kept
// is the last one examined. Names are compared exactly, with case. One walk per snapshot; any
// thread.
#pragma once

#include <cstdint>
#include <string>

#include "records/FaceSnapshot.h"

class GroupWalk {
 public:
  // Takes the next group name; false when the walk is over ("Blacklist" was seen).
  bool Visit(const std::string& groupName) {
    name_ = groupName;
    const int32_t code = GroupIdForName(groupName);
    if (code != kGroupNotIdentified) code_ = code;
    return code != kGroupBlacklist;
  }
  int32_t Code() const { return code_; }
  const std::string& Name() const { return name_; }

 private:
  int32_t code_ = kGroupNotIdentified;
  std::string name_;
};
