#include "tools/facesim/Gallery.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <websocketpp/base64/base64.hpp>

#include "tools/common/ScriptWords.h"
#include "tools/facesim/FaceFingerprint.h"

namespace facesim {

namespace {

bool IsBase64Symbol(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// Standard alphabet, a multiple of four characters, '=' only as the last one or two.
bool IsPaddedBase64(const std::string& text) {
  if (text.empty() || text.size() % 4 != 0) return false;
  size_t symbols = text.size();
  if (text[symbols - 1] == '=') --symbols;
  if (text[symbols - 1] == '=') --symbols;
  return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(symbols),
                     IsBase64Symbol);
}

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no surrogates, nothing
// above U+10FFFF.
bool IsUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int length = 0;
    uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (length == 4 && (code < 0x10000 || code > 0x10FFFF))) {
      return false;
    }
    i += length;
  }
  return true;
}

std::vector<std::string> SplitGroups(const std::string& text) {
  std::vector<std::string> groups;
  std::stringstream stream(text);
  std::string group;
  while (std::getline(stream, group, ',')) {
    if (!group.empty()) groups.push_back(group);
  }
  return groups;
}

}  // namespace

bool Gallery::Load(const std::string& path, const Reporter& report, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    *error = "cannot read people file " + path;
    return false;
  }
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    std::string problem;
    if (!Enrol(line, folder, &problem) && !problem.empty()) {
      report(path + ":" + std::to_string(number) + ": " + problem + " (line skipped)");
    }
  }
  return true;
}

bool Gallery::Enrol(const std::string& line, const std::string& folder, std::string* error) {
  std::vector<std::string> words;
  if (!simtools::QuotedWords(line, &words, error)) return false;
  if (words.empty()) {
    error->clear();  // blank or comment
    return false;
  }
  Person person;
  bool hasId = false, hasName = false, hasGroups = false;
  for (size_t i = 1; i < words.size(); ++i) {
    const size_t equals = words[i].find('=');
    const std::string key = words[i].substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : words[i].substr(equals + 1);
    bool* seen = key == "person"   ? &hasId
                 : key == "name"   ? &hasName
                 : key == "groups" ? &hasGroups
                                   : nullptr;
    if (equals == std::string::npos || seen == nullptr) {
      *error = "expected person=ID, name=TEXT or groups=NAME,NAME, got '" + words[i] + "'";
      return false;
    }
    if (*seen) {
      *error = key + " given twice";
      return false;
    }
    *seen = true;
    if (!IsUtf8(value)) {
      *error = key + " is not UTF-8 text";
      return false;
    }
    if (key == "person") {
      person.id = value;
    } else if (key == "name") {
      person.name = value;
    } else {
      person.groups = SplitGroups(value);
    }
  }
  if (!hasId || person.id.empty() || !hasName) {
    *error = "person=ID and name=TEXT are required";
    return false;
  }
  if (Find(person.id) != nullptr) {
    *error = "person " + person.id + " is enrolled already";
    return false;
  }
  const std::string picture = words[0][0] == '/' ? words[0] : folder + words[0];
  std::string problem;
  if (!FingerprintJpegFile(picture, &person.fingerprint, &problem)) {
    *error = "cannot use picture " + picture + ": " + problem;
    return false;
  }
  people_.push_back(std::move(person));
  return true;
}

const Person* Gallery::Find(const std::string& id) const {
  for (const Person& person : people_) {
    if (person.id == id) return &person;
  }
  return nullptr;
}

std::vector<Match> Gallery::Rank(uint64_t fingerprint) const {
  std::vector<Match> ranking;
  for (const Person& person : people_) {
    ranking.push_back(Match{&person, Similarity(fingerprint, person.fingerprint)});
  }
  std::stable_sort(ranking.begin(), ranking.end(),
                   [](const Match& a, const Match& b) { return a.score > b.score; });
  return ranking;
}

Identification Gallery::Identify(const std::string& base64) const {
  Identification result;
  if (!IsPaddedBase64(base64)) {
    result.problem = "the picture is not padded base64";
    return result;
  }
  const std::string bytes = websocketpp::base64_decode(base64);
  uint64_t fingerprint = 0;
  if (!FingerprintJpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &fingerprint,
                       &result.problem)) {
    result.problem = "the picture does not decode: " + result.problem;
    return result;
  }
  result.decoded = true;
  result.ranking = Rank(fingerprint);
  return result;
}

}  // namespace facesim
