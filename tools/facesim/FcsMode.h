// The fcs protocol: no login; every request carries the account id and access key. "whois"
// answers the face-quality steps and every visitor as a candidate, best first; "info" gives
// one visitor's groups and name. A wrong account id or access key, or an unknown person, is
// answered with status 0 and an error code. Io thread only (see ServiceMode).
#pragma once

#include <string>
#include <vector>

#include "tools/facesim/ServiceMode.h"

namespace facesim {

class FcsMode : public ServiceMode {
 public:
  static constexpr const char* kWhois = "/api/fcs/person/whois";
  static constexpr const char* kInfo = "/api/fcs/person/info";
  static constexpr int kWrongAccount = 1001;
  static constexpr int kUnknownPerson = 1002;

  FcsMode(const FaceSimOptions& options, const Gallery& gallery)
      : options_(options), gallery_(gallery) {}

  std::vector<std::string> Endpoints() const override { return {kWhois, kInfo}; }
  std::string PictureEndpoint() const override { return kWhois; }
  ServiceAnswer Handle(const ServiceRequest& request) override;

 private:
  const FaceSimOptions options_;
  const Gallery& gallery_;
};

}  // namespace facesim
