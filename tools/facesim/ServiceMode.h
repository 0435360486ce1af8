// One face service protocol (frs, fcs or frsv2): the endpoints it serves and the answer to
// each request, decided from the credentials, the sessions and the gallery. No networking
// here: the server hands over a request that has been read in full and sends what comes back.
// Called on the io thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/facesim/FaceSimOptions.h"
#include "tools/facesim/Gallery.h"
#include "tools/facesim/SessionTable.h"

namespace facesim {

struct ServiceRequest {
  std::string path;   // without the query
  std::string query;  // after '?', or empty
  std::string body;
  int wide = 0;  // empty objects to add to the answer's list (group or candidate list)
};

// A recognition result that goes out on a WebSocket stream after the push delay.
struct PushedResult {
  std::string stream;  // the stream's path
  std::string verifyId;
  // The message text for a verify id (a faulty push may put another id in).
  std::function<std::string(const std::string& verifyId)> message;
};

struct ServiceAnswer {
  int status = 200;
  std::string body;  // JSON
  // For the request line: the best person and score, where there is one.
  std::string person;
  std::optional<double> score;
  std::string problem;  // a bad request or an undecodable picture, for standard error
  std::optional<PushedResult> push;
  bool widened = false;  // the answer (or its push) has the list that the request's wide padded
};

class ServiceMode {
 public:
  virtual ~ServiceMode() = default;

  // The POST paths it serves.
  virtual std::vector<std::string> Endpoints() const = 0;
  // The one of them that carries the picture, where the recognition takes its time.
  virtual std::string PictureEndpoint() const = 0;
  // The WebSocket stream paths it serves.
  virtual std::vector<std::string> Streams() const { return {}; }
  // request.path is one of Endpoints().
  virtual ServiceAnswer Handle(const ServiceRequest& request) = 0;
};

// The protocol of options.mode, over the gallery (which must outlive it).
std::unique_ptr<ServiceMode> MakeServiceMode(const FaceSimOptions& options, const Gallery& gallery);

// Answers shared by the protocols: 400 with the problem, another status with a message, and
// 200 with a JSON body.
ServiceAnswer BadRequest(const std::string& problem);
ServiceAnswer ErrorAnswer(int status, const std::string& message);
ServiceAnswer JsonAnswer(std::string body);

// The login of frs and frsv2: {"username","password"} opens a session and answers
// {"sessionId"}; wrong credentials get 401.
ServiceAnswer SessionLogin(const std::string& body, const FaceSimOptions& options,
                           SessionTable& sessions);

}  // namespace facesim
