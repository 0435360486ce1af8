#include "metrics/WebConfig.h"

#include <cerrno>
#include <string_view>

#include "platform/FileStatus.h"
#include "platform/FileSystem.h"
#include "support/StringFormat.h"

namespace metrics {

namespace {

// The file is a tiny, fixed form: two sections of one level of "key: value" lines each. A
// YAML library would accept far more (anchors, flow style, other keys of the exporters'
// format) that this listener does not do, and what it does not do must be refused, not
// ignored. So the subset is read here, line by line.
constexpr std::size_t kBcryptHashLength = 60;
constexpr std::size_t kMaxUsers = 64;

enum class Section { kNone = 0, kTls, kUsers };
constexpr int kSections = 3;

struct Line {
  std::size_t indent = 0;
  std::string key;
  std::string value;
};

bool IsPlainStart(char c) {
  return std::string_view("-?:,[]{}#&*!|>'\"%@`").find(c) == std::string_view::npos;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// A scalar at the start of text: quoted ('...' or "...", without escapes) or plain up to stop
// (": " for a key, " #" for a value). *rest is what follows it. False when it is not one.
bool ReadScalar(std::string_view text, bool isKey, std::string* out, std::string_view* rest) {
  if (text.empty()) return false;
  if (text.front() == '\'' || text.front() == '"') {
    const std::size_t close = text.find(text.front(), 1);
    if (close == std::string_view::npos) return false;
    const std::string_view inner = text.substr(1, close - 1);
    if (inner.find('\\') != std::string_view::npos) return false;
    *out = std::string(inner);
    *rest = text.substr(close + 1);
    return true;
  }
  if (!IsPlainStart(text.front())) return false;
  std::size_t end = isKey ? text.find(':') : text.find(" #");
  if (end == std::string_view::npos) end = text.size();
  *out = std::string(Trim(text.substr(0, end)));
  *rest = text.substr(end);
  return !out->empty();
}

// One line as indentation, key and value ("" when none); false with *error when it is not of
// that form. A line with nothing but blanks or a comment gives an empty key.
bool SplitLine(std::string_view text, Line* line, std::string* error) {
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (text.find('\t') != std::string_view::npos) {
    *error = "a tab (indent with spaces)";
    return false;
  }
  line->indent = text.find_first_not_of(' ');
  if (line->indent == std::string_view::npos || text[line->indent] == '#') {
    line->key.clear();
    return true;
  }
  std::string_view rest;
  if (!ReadScalar(text.substr(line->indent), true, &line->key, &rest) || rest.empty() ||
      rest.front() != ':' || (rest.size() > 1 && rest[1] != ' ')) {
    *error = "not \"key: value\"";
    return false;
  }
  rest = Trim(rest.substr(1));
  line->value.clear();
  if (!rest.empty() && rest.front() != '#') {
    if (!ReadScalar(rest, false, &line->value, &rest)) {
      *error = "a value of a form that is not read here";
      return false;
    }
    rest = Trim(rest);
    if (!rest.empty() && rest.front() != '#') {
      *error = "text after the value";
      return false;
    }
  }
  return true;
}

bool IsBcryptHash(const std::string& hash) {
  return hash.size() == kBcryptHashLength &&
         (hash.compare(0, 4, "$2a$") == 0 || hash.compare(0, 4, "$2b$") == 0 ||
          hash.compare(0, 4, "$2y$") == 0);
}

std::string InFolder(const std::string& folder, const std::string& file) {
  return file.front() == '/' ? file : folder + file;
}

// One entry of a section; false with *error when the section does not take it.
bool TakeEntry(Section section, const Line& line, const std::string& folder, WebConfig* config,
               std::string* error) {
  if (line.value.empty()) {
    *error = "\"" + line.key + "\" has no value";
    return false;
  }
  if (section == Section::kTls) {
    std::string* file = line.key == "cert_file"  ? &config->certFile
                        : line.key == "key_file" ? &config->keyFile
                                                 : nullptr;
    if (file == nullptr || !file->empty()) {
      *error = file == nullptr
                   ? "tls_server_config takes only cert_file and key_file, not \"" + line.key + "\""
                   : "\"" + line.key + "\" given twice";
      return false;
    }
    *file = InFolder(folder, line.value);
    return true;
  }
  if (!IsBcryptHash(line.value)) {
    *error = "the password of \"" + line.key + "\" is not a bcrypt hash";
    return false;
  }
  if (config->users.size() >= kMaxUsers || !config->users.emplace(line.key, line.value).second) {
    *error = config->users.size() >= kMaxUsers ? StringFormat("more than %zu users", kMaxUsers)
                                               : "user \"" + line.key + "\" given twice";
    return false;
  }
  return true;
}

}  // namespace

std::string WebConfig::Summary() const {
  std::string auth;
  if (BasicAuth()) {
    auth = StringFormat("basic auth (%zu user%s)", users.size(), users.size() == 1 ? "" : "s");
  }
  if (!Tls()) return auth;
  return auth.empty() ? "TLS" : "TLS and " + auth;
}

bool ParseWebConfig(const std::string& text, const std::string& folder, WebConfig* config,
                    std::string* error) {
  *config = WebConfig();
  if (text.find('\0') != std::string::npos) {
    *error = "a NUL byte";
    return false;
  }
  Section section = Section::kNone;
  bool seen[kSections] = {};
  int entries[kSections] = {};
  std::size_t sectionIndent = 0;
  int number = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view raw(text.data() + start, end - start);
    start = end + 1;
    ++number;
    Line line;
    std::string why;
    bool ok = SplitLine(raw, &line, &why);
    if (ok && line.key.empty()) continue;
    if (ok && line.indent == 0) {
      section = line.key == "tls_server_config"  ? Section::kTls
                : line.key == "basic_auth_users" ? Section::kUsers
                                                 : Section::kNone;
      ok = section != Section::kNone && line.value.empty() && !seen[static_cast<int>(section)];
      if (!ok) why = "\"" + line.key + "\" is not a section read here, or is given twice";
      if (ok) seen[static_cast<int>(section)] = true;
      sectionIndent = 0;
    } else if (ok) {
      if (sectionIndent == 0) sectionIndent = line.indent;
      ok = section != Section::kNone && line.indent == sectionIndent;
      if (!ok) why = "an entry outside a section, or nested deeper";
      if (ok) ok = TakeEntry(section, line, folder, config, &why);
      ++entries[static_cast<int>(section)];
    }
    if (!ok) {
      *error = StringFormat("line %d: %s", number, why.c_str());
      return false;
    }
  }
  const auto empty = [&](Section s) {
    return seen[static_cast<int>(s)] && entries[static_cast<int>(s)] == 0;
  };
  if (empty(Section::kTls) || empty(Section::kUsers)) {
    *error = "a section without entries";
  } else if (config->certFile.empty() != config->keyFile.empty()) {
    *error = "tls_server_config needs both cert_file and key_file";
  } else if (!config->Tls() && !config->BasicAuth()) {
    *error = "neither TLS nor users";
  } else {
    return true;
  }
  return false;
}

bool LoadWebConfig(const std::string& path, WebConfig* config, std::string* error) {
  std::string text;
  int errorCode = 0;
  if (!platform::ReadWholeFile(path, &text, &errorCode, kMaxWebConfigBytes)) {
    *error = errorCode == EFBIG ? StringFormat("larger than %zu bytes", kMaxWebConfigBytes)
                                : platform::ErrorMessage(errorCode);
    return false;
  }
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  return ParseWebConfig(text, folder, config, error);
}

}  // namespace metrics
