#include "config/FaceServiceType.h"

#include "config/FaceServiceConfig.h"

FaceServiceKind FaceServiceKindOf(int32_t type) {
  switch (type) {
    case kFaceServiceFrs:
      return FaceServiceKind::kFrs;
    case kFaceServiceFcs:
      return FaceServiceKind::kFcs;
    case kFaceServiceFrsV2:
      return FaceServiceKind::kFrsV2;
    default:
      return FaceServiceKind::kNone;
  }
}

const char* FaceServiceKindName(FaceServiceKind kind) {
  switch (kind) {
    case FaceServiceKind::kFrs:
      return "FRS";
    case FaceServiceKind::kFcs:
      return "FCS";
    case FaceServiceKind::kFrsV2:
      return "FRS v2";
    default:
      return "none";
  }
}
