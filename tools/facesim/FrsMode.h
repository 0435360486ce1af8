// The frs protocol: login, verify and logout over HTTP; the verify answer carries only a new
// verify id, and the recognition result follows on a WebSocket stream, the recognised one
// when the best score reaches the request's target score. Io thread only (see ServiceMode).
#pragma once

#include <string>
#include <vector>

#include "tools/facesim/ServiceMode.h"
#include "tools/facesim/SessionTable.h"

namespace facesim {

class FrsMode : public ServiceMode {
 public:
  static constexpr const char* kLogin = "/users/login";
  static constexpr const char* kVerify = "/frs/cgi/verifyface";
  static constexpr const char* kLogout = "/users/logout";
  static constexpr const char* kRecognizedStream = "/fcsreconizedresult";
  static constexpr const char* kUnrecognizedStream = "/fcsnonreconizedresult";

  FrsMode(const FaceSimOptions& options, const Gallery& gallery)
      : options_(options), gallery_(gallery) {}

  std::vector<std::string> Endpoints() const override { return {kLogin, kVerify, kLogout}; }
  std::string PictureEndpoint() const override { return kVerify; }
  std::vector<std::string> Streams() const override {
    return {kRecognizedStream, kUnrecognizedStream};
  }
  ServiceAnswer Handle(const ServiceRequest& request) override;

 private:
  // wide: empty objects added to the pushed group list.
  ServiceAnswer Verify(const std::string& body, int wide);
  ServiceAnswer Logout(const std::string& body);

  const FaceSimOptions options_;
  const Gallery& gallery_;
  SessionTable sessions_;
};

}  // namespace facesim
