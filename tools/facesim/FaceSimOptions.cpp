#include "tools/facesim/FaceSimOptions.h"

#include "tools/common/ListenSocket.h"
#include "tools/common/OptionList.h"

namespace facesim {

namespace {

constexpr size_t kMaxCredentialLength = 256;

bool ParseMode(const std::string& text, Mode* mode) {
  if (text == "frs") {
    *mode = Mode::Frs;
  } else if (text == "fcs") {
    *mode = Mode::Fcs;
  } else if (text == "frsv2") {
    *mode = Mode::FrsV2;
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool ParseFaceSimOptions(const std::vector<std::string>& args, FaceSimOptions* options,
                         std::string* error) {
  bool modeGiven = false;
  bool listenGiven = false;
  auto handle = [&](const std::string& name, const std::string& value) {
    bool ok = true;
    if (name == "--mode") {
      ok = modeGiven = ParseMode(value, &options->mode);
    } else if (name == "--listen") {
      ok = listenGiven =
          simtools::ParseListenAddress(value, &options->listenIp, &options->listenPort);
    } else if (name == "--user" || name == "--account" || name == "--access-key") {
      std::string& field = name == "--user"      ? options->user
                           : name == "--account" ? options->account
                                                 : options->accessKey;
      ok = !value.empty() && value.size() <= kMaxCredentialLength;
      field = value;
    } else if (name == "--password") {
      ok = value.size() <= kMaxCredentialLength;
      options->password = value;
    } else if (name == "--people" || name == "--script") {
      ok = !value.empty();
      (name == "--people" ? options->peoplePath : options->scriptPath) = value;
    } else {
      return simtools::OptionValue::Unknown;
    }
    return ok ? simtools::OptionValue::Good : simtools::OptionValue::Bad;
  };
  if (!simtools::WalkOptions(args, {}, handle, &options->help, error)) return false;
  if (options->help) return true;
  if (!modeGiven) {
    *error = "--mode frs|fcs|frsv2 is required";
    return false;
  }
  if (!listenGiven) {
    *error = "--listen IP:PORT is required";
    return false;
  }
  return true;
}

const char* FaceSimUsage() {
  return R"(Usage: vestrel-facesim --mode frs|fcs|frsv2 --listen IP:PORT [options]

A simulated face recognition service for Vestrel's face clients.

Options:
  --mode MODE          the service to play:
                         frs    POST /users/login, /frs/cgi/verifyface, /users/logout;
                                results pushed on the WebSocket streams
                                /fcsreconizedresult and /fcsnonreconizedresult
                         fcs    POST /api/fcs/person/whois, /api/fcs/person/info
                         frsv2  POST /user/web/login, /frengine/verify-face,
                                /user/base/logout?sessionId=ID
  --listen IP:PORT     IPv4 address and port for HTTP and WebSocket alike; port 0 picks a
                       free port (see the "listening" line)
  --user NAME          user name accepted at login, frs and frsv2 (default admin)
  --password PW        password accepted at login (default admin)
  --account ID         account id accepted by fcs (default demo)
  --access-key KEY     access key accepted by fcs (default demo-key)
  --people FILE        enrolled visitors, one a line, in UTF-8:
                         JPEG_PATH person=ID name=TEXT [groups=NAME,NAME]
                       "double quotes" keep blanks (name="Two Words"); '#' begins a
                       comment; a relative JPEG_PATH is taken from the file's folder; a
                       bad line is reported as FILE:LINE: and skipped
  --script FILE        run the commands in FILE before those on standard input
  --help               show this text

Recognition: a received picture is decoded and reduced to a 64-bit difference hash of a
9x8 grey copy; its score against a visitor is the share of equal bits (0 to 1). The same
picture, scaled or re-encoded, scores close to 1; an unrelated one about 0.4 to 0.65.
frs pushes on the recognised stream when the best score reaches the request's
target_score; frsv2 answers isMatch when it reaches the threshold; fcs lists every
visitor as a candidate, best first. fcs error codes: 1001 wrong account id or access key,
1002 unknown person.

Commands (one a line; '#' at the start of a word begins a comment):
  next ENDPOINT BEHAVIOUR  the next request to ENDPOINT (a path above, without query)
                           gets a fault; several lines for one endpoint queue up:
         status=N          answer with status N (200-599) and a short error body
         garbage           status 200, a body that is not JSON
         empty             status 200, no body
         deep              status 200, 100,000 nested arrays
         huge              the usual answer padded to 5 MiB with a "padding" member
         slow=SECONDS      the usual answer, that much later
         close             close the connection without an answer
         truncated         half the usual answer under a Content-Length larger than
                           the whole of it, then close
         body=TEXT         status 200 with TEXT (the rest of the line) as the body
                           The request is still carried out (a session opened, a result
                           pushed); only its answer is faulty. On a WebSocket path slow
                           delays the upgrade and any other fault replaces it.
  push none|twice|garbage|wrong-id
                           the next pushed result is not sent, sent twice, replaced by
                           text that is not JSON, or sent under a verify id nobody asked for
  push-delay SECONDS       from a verify answer to its pushed result (default 0.5)
  down SECONDS             drop every connection, HTTP and WebSocket, and stop listening
                           for that long, then listen again on the same port; the next
                           command runs once it is back
  wait SECONDS
  quit

Output lines: listening IP:PORT; request PATH status=N [person=ID] [score=S] [fault=F]
(status=0 when the connection was closed without an answer); request PATH held=SECONDS
(a slow answer is being held back); ws open PATH; ws ping PAYLOAD; ws message PATH
bytes=N; ws closed PATH; push PATH verify_face_id=ID; push PATH garbage
verify_face_id=ID; push PATH verify_face_id=OTHER instead-of=ID; push none
verify_face_id=ID; armed next ENDPOINT BEHAVIOUR; armed push FAULT;
set push-delay SECONDS; down; up. Errors go to standard error.

The end of standard input does not stop the simulator: it runs until quit, SIGTERM or
SIGINT, and then exits with status 0. A bad argument exits with status 2, a listen
address that cannot be opened with status 1.
)";
}

}  // namespace facesim
