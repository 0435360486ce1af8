#include "faceclient/FaceClientFactory.h"

#include "config/FaceServiceType.h"
#include "faceclient/FCSClient.h"
#include "faceclient/FRSClient.h"
#include "faceclient/FRSV2Client.h"

VFRClient* CreateFaceClientForType(int32_t type) {
  switch (FaceServiceKindOf(type)) {
    case FaceServiceKind::kFrs:
      return new FRSClient();
    case FaceServiceKind::kFcs:
      return new FCSClient();
    case FaceServiceKind::kFrsV2:
      return new FRSV2Client();
    default:
      return nullptr;
  }
}
