// The client of the second-generation face recognition service (any type other than 0 and 1):
// per snapshot it logs in, posts the picture for verification and reads the whole identity
// from the answer, then logs out. Everything here runs on the worker thread of the base;
// sessionId is touched by that thread only.
#pragma once

#include <string>

#include "faceclient/VFRClient.h"

class FRSV2Client : public VFRClient {
 public:
  FRSV2Client() = default;

  bool Login();
  void Verify(FaceSnapshot* snapshot);
  bool Logout();

 protected:
  unsigned Run() override;
  void ProcessSnapshot(FaceSnapshot* snapshot) override;

 private:
  std::string sessionId;  // of the last successful login; kept between snapshots
};

// The logout path for a session id, with every byte outside the URL's unreserved characters
// percent-encoded so that an id cannot change the request line.
std::string FrsV2LogoutPath(const std::string& sessionId);
