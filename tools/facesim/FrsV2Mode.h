// The frsv2 protocol: login, verify and logout over HTTP alone; the verify answer carries the
// whole result (match decision against the request's threshold, score, best person). Io
// thread only (see ServiceMode).
#pragma once

#include <string>
#include <vector>

#include "tools/facesim/ServiceMode.h"
#include "tools/facesim/SessionTable.h"

namespace facesim {

class FrsV2Mode : public ServiceMode {
 public:
  static constexpr const char* kLogin = "/user/web/login";
  static constexpr const char* kVerify = "/frengine/verify-face";
  static constexpr const char* kLogout = "/user/base/logout";  // session id in the query
  static constexpr const char* kPicturePrefix = "data:image/jpg;base64,";

  FrsV2Mode(const FaceSimOptions& options, const Gallery& gallery)
      : options_(options), gallery_(gallery) {}

  std::vector<std::string> Endpoints() const override { return {kLogin, kVerify, kLogout}; }
  std::string PictureEndpoint() const override { return kVerify; }
  ServiceAnswer Handle(const ServiceRequest& request) override;

 private:
  // wide: empty objects added to personGroups.
  ServiceAnswer Verify(const std::string& body, int wide);
  ServiceAnswer Logout(const std::string& query);

  const FaceSimOptions options_;
  const Gallery& gallery_;
  SessionTable sessions_;
};

}  // namespace facesim
