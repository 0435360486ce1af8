#include "records/FaceSnapshot.h"

int32_t GroupIdForName(const std::string& groupName) {
  if (groupName == "VIP") return kGroupVip;
  if (groupName == "Blacklist") return kGroupBlacklist;
  if (groupName == "Employee") return kGroupEmployee;
  return kGroupNotIdentified;
}
