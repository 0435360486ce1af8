// The client of the face cloud service (type 1): no login; every request carries the account
// id and access key. For each snapshot it asks "whois" with the picture and, when a candidate
// scores above the threshold, asks for that person's groups and name.
// Everything here runs on the worker thread of the base.
#pragma once

#include "faceclient/VFRClient.h"

class FCSClient : public VFRClient {
 public:
  FCSClient() = default;

  // 1 when a candidate was accepted (PersonId and Confidence set), else 0.
  int WhoIs(FaceSnapshot* snapshot);
  void PersonInfo(FaceSnapshot* snapshot);

 protected:
  unsigned Run() override;
  void ProcessSnapshot(FaceSnapshot* snapshot) override;
};
