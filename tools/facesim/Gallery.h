// The visitors the simulated service knows, enrolled from the people file, and the ranking
// of a received picture against them. Loaded before the io thread runs; read-only afterwards,
// so any thread may rank.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace facesim {

struct Person {
  std::string id;
  std::string name;  // UTF-8
  std::vector<std::string> groups;
  uint64_t fingerprint = 0;
};

struct Match {
  const Person* person = nullptr;
  double score = 0;
};

// Who may be in a received picture.
struct Identification {
  bool decoded = false;        // false: not base64, or not a JPEG picture
  std::string problem;         // why not, when not decoded
  std::vector<Match> ranking;  // every visitor, best first; empty when not decoded
};

class Gallery {
 public:
  using Reporter = std::function<void(const std::string& message)>;

  // Reads the people file: "JPEG_PATH person=ID name=TEXT [groups=NAME,NAME]" a line. A bad
  // line goes to report as "FILE:LINE: message" and is skipped. False with *error set when
  // the file cannot be read.
  bool Load(const std::string& path, const Reporter& report, std::string* error);
  // One line of the file; folder is prefixed to a relative picture path. False with *error
  // set when the line is bad, with *error empty when it is blank or a comment.
  bool Enrol(const std::string& line, const std::string& folder, std::string* error);

  const std::vector<Person>& People() const { return people_; }
  const Person* Find(const std::string& id) const;

  // Every visitor with the score of the fingerprint against theirs, best first; equal scores
  // keep the order of enrolment.
  std::vector<Match> Rank(uint64_t fingerprint) const;
  // Decodes base64 JPEG text (standard alphabet, padded) and ranks the picture.
  Identification Identify(const std::string& base64) const;

 private:
  std::vector<Person> people_;
};

}  // namespace facesim
