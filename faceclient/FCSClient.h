// The client of the face cloud service (type 1): no login; every request carries the account
// id and access key. For each snapshot it asks "whois" with the picture and, when a candidate
// scores above the threshold, asks for that person's groups and name.
// Everything here runs on a worker thread of the base, with that worker's connection.
#pragma once

#include "faceclient/VFRClient.h"

class FCSClient : public VFRClient {
 public:
  FCSClient() = default;


 protected:
  unsigned Run(Worker& worker) override;
  void ProcessSnapshot(Worker& worker, FaceSnapshot* snapshot) override;
  // 1 when a candidate was accepted (PersonId and Confidence set), else 0.
  int WhoIs(Worker& worker, FaceSnapshot* snapshot);
  void PersonInfo(Worker& worker, FaceSnapshot* snapshot);
};
