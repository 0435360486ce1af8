// Loaders of the face-service record: the "VFRInfo" element of "DevInfo.xml", or the
// "EdgeAiCfg.xml" beside the remote device file. UI thread, at start-up only.
//
// Attributes that may be left out: a missing "score" reads as 0.8 and a missing "enable" as 1,
// in "VFRInfo" and "FrsInfo" alike; a missing "port" of "VFRInfo" reads as 0 (the client then
// cannot connect and says so in the log).
#pragma once

#include <memory>
#include <string>

#include "config/FaceServiceConfig.h"

// True unless the file cannot be parsed or has no root; creates the record (type 0) when the
// root has a "VFRInfo" child.
bool LoadVfrInfo(const std::string& path, std::unique_ptr<FaceServiceConfig>& config);

// True when the file was read, with or without a service entry; creates the record only for a
// complete first "FrsInfo" (types 0 and 2) or "FcsInfo" (type 1).
bool LoadEdgeAiCfg(const std::string& path, std::unique_ptr<FaceServiceConfig>& config);
