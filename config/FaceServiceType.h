// What the face-service Type of a configuration means: 0 the FRS service, 1 the FCS service,
// 2 the FRS v2 service, any other value no face service. This is the one place that decides
// it; the loaders, the client factory and vestrel-check ask here. Stateless; any thread.
#pragma once

#include <cstdint>

enum class FaceServiceKind { kNone, kFrs, kFcs, kFrsV2 };

FaceServiceKind FaceServiceKindOf(int32_t type);
// "FRS", "FCS", "FRS v2" or "none", as the site check and the log name the kind.
const char* FaceServiceKindName(FaceServiceKind kind);
