#include "faceclient/FaceClientFactory.h"

#include "config/FaceServiceConfig.h"
#include "faceclient/FCSClient.h"
#include "faceclient/FRSClient.h"
#include "faceclient/FRSV2Client.h"

VFRClient* CreateFaceClientForType(int32_t type) {
  switch (type) {
    case kFaceServiceFrs:
      return new FRSClient();
    case kFaceServiceFcs:
      return new FCSClient();
    default:
      return new FRSV2Client();
  }
}
