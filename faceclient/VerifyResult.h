// One recognition result pushed by the FRS server over its event stream, and the decoding of
// the two streams' messages into it. The decoders are pure functions of the message text and
// may run on any thread; the stream's connection threads call them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct VerifyResult {
  std::string verifyId;  // the verify id of the snapshot it belongs to
  std::string personId;
  int32_t groupId = 0;
  std::string groupName;
  std::string personName;  // ANSI code page
  std::string confidence;

  // The memory the result holds, for the bound on results waiting to be matched.
  std::size_t Bytes() const {
    return sizeof(VerifyResult) + verifyId.size() + personId.size() + groupName.size() +
           personName.size() + confidence.size();
  }
};

// Who takes the decoded results: the FRS client. Called on a connection thread of the stream;
// the receiver takes ownership of the result.
class VerifyResultSink {
 public:
  virtual ~VerifyResultSink() = default;
  virtual void PushVerifyResult(VerifyResult* result) = 0;
};

// A message of the recognised stream ("fcsreconizedresult"). False, with *result untouched in
// meaning, when the message is not JSON or lacks a required member. Group names seen are passed
// to the debugger output as they are read.
bool DecodeRecognizedMessage(const std::string& payload, VerifyResult* result);
// A message of the non-recognised stream ("fcsnonreconizedresult").
bool DecodeUnrecognizedMessage(const std::string& payload, VerifyResult* result);
