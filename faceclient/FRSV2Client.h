// The client of the second-generation face recognition service (any type other than 0 and 1):
// per snapshot it logs in, posts the picture for verification and reads the whole identity
// from the answer, then logs out. Everything here runs on a worker thread of the base, with that
// worker's connection and session.
#pragma once

#include <string>

#include "faceclient/VFRClient.h"

class FRSV2Client : public VFRClient {
 public:
  FRSV2Client() = default;

 protected:
  unsigned Run(Worker& worker) override;
  void ProcessSnapshot(Worker& worker, FaceSnapshot* snapshot) override;
  void Verify(Worker& worker, FaceSnapshot* snapshot);
  bool Logout(Worker& worker);
};

// The logout path for a session id, with every byte outside the URL's unreserved characters
// percent-encoded so that an id cannot change the request line.
std::string FrsV2LogoutPath(const std::string& sessionId);
