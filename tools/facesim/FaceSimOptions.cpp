#include "tools/facesim/FaceSimOptions.h"

#include "tools/common/ListenSocket.h"
#include "tools/common/OptionList.h"
#include "tools/common/ScriptWords.h"

namespace facesim {

namespace {

constexpr size_t kMaxCredentialLength = 256;
constexpr int kMaxConcurrency = 1000;

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

// Takes "--tls CERT KEY", the one option with two values, out of args; the rest is left in
// *rest, pairs and flags as they came. False with *error set when a value is missing.
bool TakeTls(const std::vector<std::string>& args, FaceSimOptions* options,
             std::vector<std::string>* rest, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--tls") {
      rest->push_back(args[i]);
      const bool pair = args[i].rfind("--", 0) == 0 && args[i] != "--help";
      if (pair && i + 1 < args.size()) rest->push_back(args[++i]);
      continue;
    }
    if (i + 2 >= args.size() || args[i + 1].empty() || args[i + 2].empty() ||
        args[i + 1].rfind("--", 0) == 0 || args[i + 2].rfind("--", 0) == 0) {
      *error = "--tls needs two values: CERT KEY";
      return false;
    }
    options->tlsCertificate = args[i + 1];
    options->tlsKey = args[i + 2];
    i += 2;
  }
  return true;
}

}  // namespace

bool ParseFaceSimOptions(const std::vector<std::string>& allArgs, FaceSimOptions* options,
                         std::string* error) {
  std::vector<std::string> args;
  if (!TakeTls(allArgs, options, &args, error)) return false;
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
    } else if (name == "--latency") {
      ok = simtools::ParseSeconds(value, &options->latencySeconds);
    } else if (name == "--concurrency") {
      ok = simtools::ParseBoundedInt(value, 1, kMaxConcurrency, &options->concurrency);
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
  --latency SECONDS    the recognition's time: every answer to a request that carries
                       a picture (frs and frsv2 verify, fcs whois) comes that much
                       later (default 0); logins, logouts, fcs info and WebSocket
                       upgrades are answered at once, and a pushed result follows
                       its verify answer by the push delay as before
  --concurrency N      at most N HTTP requests (1 to 1000) are served at once,
                       latency included; the others wait their turn in arrival
                       order, each with a line "request PATH queued" (default: no
                       limit)
  --tls CERT KEY       serve HTTPS and wss on the port, with the PEM certificate
                       (chain) and private key in those files; every connection must
                       then begin with a TLS handshake
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
         drip=SECONDS      the usual answer, headers and body alike, one byte every
                           SECONDS (the first at once)
         close             close the connection without an answer
         truncated         half the usual answer under a Content-Length larger than
                           the whole of it, then close
         gzip-bomb         status 200, Content-Encoding: gzip, a body of about 1 MB
                           that inflates to 1 GiB of zero bytes (whatever the request's
                           Accept-Encoding)
         headers           a status line, then answer headers that never end: lines
                           X-Pad-N: ... one after another until the client goes away
                           (after 64 MiB the connection is closed)
         wide=N            the usual answer with N empty objects {} (1 to 10000000)
                           after the items of its list: frs the pushed result's
                           group_list, frsv2 personGroups, fcs whois candidates and
                           info groups; an answer without that list (a login, no
                           match) gets a member "padding" holding them instead
         body=TEXT         status 200 with TEXT (the rest of the line) as the body;
                           \n \r \t \\ and \xNN (a byte in two hex digits) in TEXT
                           are decoded, any other backslash is kept (JSON's \" and
                           \u0001 pass as written)
                           The request is still carried out (a session opened, a result
                           pushed); only its answer is faulty. On a WebSocket path slow
                           delays the upgrade and any other fault replaces it.
  push none|twice|garbage|wrong-id
                           the next pushed result is not sent, sent twice, replaced by
                           text that is not JSON, or sent under a verify id nobody asked for
  push-delay SECONDS       from a verify answer to its pushed result (default 0.5)
  ws stall                 every open stream connection stops reading: pings go
                           unanswered and results are not sent (they are lost), but the
                           TCP connection stays open, unread, until down or the end;
                           connections opened later are served as usual
  down SECONDS             drop every connection, HTTP and WebSocket, and stop listening
                           for that long, then listen again on the same port; the next
                           command runs once it is back
  wait SECONDS
  quit

Output lines: listening IP:PORT; request PATH status=N [person=ID] [score=S] [fault=F]
(status=0 when the connection was closed without an answer); request PATH held=SECONDS
(a slow answer is being held back); request PATH queued (waiting for a free worker,
see --concurrency); ws open PATH; ws ping PAYLOAD; ws message PATH bytes=N; ws closed
PATH; push PATH verify_face_id=ID; push PATH garbage verify_face_id=ID; push PATH
verify_face_id=OTHER instead-of=ID; push none verify_face_id=ID; armed next ENDPOINT
BEHAVIOUR; armed push FAULT; set push-delay SECONDS; ws stall streams=N (the number of
connections stalled); down; up. Errors go to standard error, among them "tls handshake
failed: REASON".

The end of standard input does not stop the simulator: it runs until quit, SIGTERM or
SIGINT, and then exits with status 0. A bad argument (a certificate or key that cannot
be loaded too) exits with status 2, a listen address that cannot be opened with status 1.
)";
}

}  // namespace facesim
