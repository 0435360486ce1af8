// Test helper: one vestrel-facesim child process (see SimulatorProcess), and what the tests of
// a face service need beside it: JSON posts over loopback and pictures as base64. Used by one
// test thread.
#pragma once

#include <string>
#include <vector>

#include "tests/support/SimulatorProcess.h"
#include "tests/support/TempDir.h"

namespace simtest {

class FaceSimProcess : public SimulatorProcess {
 public:
  // Starts the simulator in mode (frs, fcs, frsv2) listening on ip, port picked by the
  // simulator, with the extra arguments, and waits for its "listening" line. With listen
  // false only the arguments are passed (and mode, when not empty).
  FaceSimProcess(const std::string& mode, const std::vector<std::string>& args,
                 const std::string& ip = "127.0.0.1", bool listen = true);

  // Sends a script command and waits for its acknowledgement line (armed ..., set ...).
  bool Arm(const std::string& command, const std::string& acknowledgement);
};

// One HTTP answer; status 0 when none came back (error says why).
struct HttpReply {
  int status = 0;
  std::string body;
  std::string error;
};

// POSTs body as application/json (an empty body without a content type), on a new
// connection, with connection and read time-outs of a few seconds.
HttpReply PostJson(const std::string& ip, int port, const std::string& path,
                   const std::string& body);

// The file's bytes as base64.
std::string FileBase64(const std::string& path);
// The snapshot thumbnail of a test picture (at most 200x200, quality 80, made by the
// pipeline's thumbnail code), as base64.
std::string ThumbnailBase64(const std::string& testPicture, const TempDir& dir);

// A people file in dir with the lines; a line that begins with a relative picture name gets
// the test data folder put before it.
std::string WritePeople(const TempDir& dir, const std::vector<std::string>& lines);

// A self-signed certificate for ip (127.0.0.1 unless given) and localhost, made by the openssl
// program: dir/NAME.pem and its private key dir/NAME.key. False when openssl failed.
bool MakeTestCertificate(const TempDir& dir, const std::string& name,
                         const std::string& ip = "127.0.0.1");

// A JSON string literal of text (quotes and backslashes escaped), for request bodies.
std::string Quoted(const std::string& text);

}  // namespace simtest
