// Built into the test binaries that define VESTREL_FACESIM_EXE.
#include "tests/support/FaceSimProcess.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include "pipeline/SnapThumbnail.h"
#include "platform/Subprocess.h"
#include "support/Base64.h"

namespace simtest {

namespace {

std::vector<std::string> ModeArguments(const std::string& mode,
                                       const std::vector<std::string>& args) {
  std::vector<std::string> all;
  if (!mode.empty()) {
    all.push_back("--mode");
    all.push_back(mode);
  }
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

}  // namespace

FaceSimProcess::FaceSimProcess(const std::string& mode, const std::vector<std::string>& args,
                               const std::string& ip, bool listen)
    : SimulatorProcess(VESTREL_FACESIM_EXE, ip, ModeArguments(mode, args), listen) {}

bool FaceSimProcess::Arm(const std::string& command, const std::string& acknowledgement) {
  return Command(command) && WaitForLine(acknowledgement);
}

HttpReply PostJson(const std::string& ip, int port, const std::string& path,
                   const std::string& body) {
  httplib::Client client(ip, port);
  client.set_connection_timeout(3, 0);
  client.set_read_timeout(8, 0);
  client.set_write_timeout(5, 0);
  httplib::Result result = body.empty() ? client.Post(path.c_str())
                                        : client.Post(path.c_str(), body, "application/json");
  HttpReply reply;
  if (!result) {
    reply.error = httplib::to_string(result.error());
    return reply;
  }
  reply.status = result->status;
  reply.body = result->body;
  return reply;
}

std::string FileBase64(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  return Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                      static_cast<int>(bytes.size()));
}

std::string ThumbnailBase64(const std::string& testPicture, const TempDir& dir) {
  const std::string thumbnail = dir.File("thumbnail-" + testPicture);
  std::string error;
  if (!MakeSnapThumbnail(TestData(testPicture), thumbnail, 200, 200, &error)) {
    ADD_FAILURE() << error;
    return "";
  }
  return FileBase64(thumbnail);
}

std::string WritePeople(const TempDir& dir, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    const bool asWritten = line.empty() || line[0] == '#' || line[0] == '/';
    text += (asWritten ? line : TestData(line)) + "\n";
  }
  return dir.Write("people.txt", text);
}

bool MakeTestCertificate(const TempDir& dir, const std::string& name, const std::string& ip) {
  platform::Subprocess openssl;
  platform::Subprocess::Options options;
  options.arguments = {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-days", "2", "-subj", "/CN=localhost", "-addext",
                       "subjectAltName=DNS:localhost,IP:" + ip, "-keyout", dir / (name + ".key"),
                       "-out", dir / (name + ".pem")};
  options.stdoutPath = options.stderrPath = dir / (name + ".openssl.log");
  return openssl.Start("/usr/bin/openssl", options) && openssl.Wait(30000) &&
         openssl.ExitStatus() == 0;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace simtest
