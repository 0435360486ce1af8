// Conversions go through iconv, one converter pair per thread (a converter is not
// thread-safe), reopened when the code page in use changes. iconv is driven by hand so that
// every unrepresentable character and every invalid input sequence costs exactly one '?'
// (//TRANSLIT would depend on the locale, //IGNORE drops characters).
#include "platform/CodePage.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>

#include <cstdlib>

namespace platform {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

std::string Normalised(const std::string& name) {
  std::string n;
  for (char c : name) {
    if (c == '-' || c == '_') continue;
    n.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return n;
}

bool IsUtf8(const std::string& codePage) {
  const std::string n = Normalised(codePage);
  return n == "UTF8";
}

// Windows maps the five bytes that CP1252 leaves undefined to U+0081 and so on; iconv
// refuses them.
bool IsCp1252(const std::string& codePage) {
  const std::string n = Normalised(codePage);
  return n == "CP1252" || n == "WINDOWS1252" || n == "MSANSI";
}

bool IsCp1252Hole(unsigned char b) {
  return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
}

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Looks at the UTF-8 sequence at s[0..n). Returns its length in bytes (at least 1) and sets
// *codePoint, or -1 for an invalid one. An invalid sequence spans its lead byte and the
// continuation bytes that follow it, up to the length the lead byte announces, so that each
// bad sequence is replaced by exactly one '?'.
std::size_t ScanUtf8(const unsigned char* s, std::size_t n, long* codePoint) {
  const unsigned char lead = s[0];
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  std::size_t length = 0;
  unsigned long minimum = 0;
  if (lead >= 0xC0 && lead <= 0xDF) {
    length = 2;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    length = 4;
    minimum = 0x10000;
  } else {
    *codePoint = -1;  // a stray continuation byte or an impossible lead byte
    return 1;
  }
  unsigned long cp = lead & (0x7Fu >> length);
  std::size_t i = 1;
  for (; i < length && i < n && IsContinuation(s[i]); ++i) cp = (cp << 6) | (s[i] & 0x3F);
  const bool valid =
      i == length && cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
  *codePoint = valid ? static_cast<long>(cp) : -1;
  return i;
}

// UTF-8 to UTF-8 with each invalid sequence replaced by '?'.
std::string SanitiseUtf8(const std::string& in) {
  std::string out;
  out.reserve(in.size());
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  std::size_t pos = 0;
  while (pos < in.size()) {
    long cp;
    const std::size_t len = ScanUtf8(s + pos, in.size() - pos, &cp);
    if (cp < 0) {
      out.push_back('?');
    } else {
      out.append(in, pos, len);
    }
    pos += len;
  }
  return out;
}

void AppendUtf8(long cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }  // only the CP1252 holes come here, all below U+0800
}

class Converter {
 public:
  Converter() = default;
  ~Converter() { Close(); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // The converter for this pair, or kNoConverter when iconv does not know the code page.
  iconv_t Get(const std::string& to, const std::string& from) {
    if (cd_ != kNoConverter && to == to_ && from == from_) {
      ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
      return cd_;
    }
    Close();
    to_ = to;
    from_ = from;
    cd_ = ::iconv_open(to.c_str(), from.c_str());
    return cd_;
  }

 private:
  void Close() {
    if (cd_ != kNoConverter) ::iconv_close(cd_);
    cd_ = kNoConverter;
  }
  iconv_t cd_ = kNoConverter;
  std::string to_;
  std::string from_;
};

thread_local Converter t_toUtf8;
thread_local Converter t_fromUtf8;

// Invalid input in the source: how many bytes to skip and what to write instead.
using BadInput = void (*)(const unsigned char* s, std::size_t n, bool cp1252, std::size_t* skip,
                          std::string* out);

void BadAnsiByte(const unsigned char* s, std::size_t, bool cp1252, std::size_t* skip,
                 std::string* out) {
  *skip = 1;
  if (cp1252 && IsCp1252Hole(s[0])) {
    AppendUtf8(s[0], out);
  } else {
    out->push_back('?');
  }
}

void BadUtf8Sequence(const unsigned char* s, std::size_t n, bool cp1252, std::size_t* skip,
                     std::string* out) {
  long cp;
  *skip = ScanUtf8(s, n, &cp);
  if (cp1252 && cp >= 0 && cp < 0x100 && IsCp1252Hole(static_cast<unsigned char>(cp))) {
    out->push_back(static_cast<char>(cp));
  } else {
    out->push_back('?');
  }
}

// Runs the whole input through cd. On an unknown code page (no converter), ASCII passes and
// everything else goes through onBad.
std::string Convert(iconv_t cd, const std::string& input, bool cp1252, BadInput onBad) {
  std::string out;
  out.reserve(input.size() + input.size() / 2);
  const auto* base = reinterpret_cast<const unsigned char*>(input.data());
  std::size_t pos = 0;
  char buffer[1024];
  while (pos < input.size()) {
    const std::size_t left = input.size() - pos;
    std::size_t consumed = 0;
    int error = 0;
    if (cd == kNoConverter) {
      while (consumed < left && base[pos + consumed] < 0x80) ++consumed;
      out.append(input, pos, consumed);
      if (consumed < left) error = EILSEQ;
    } else {
      char* inPtr = const_cast<char*>(input.data() + pos);
      std::size_t inLeft = left;
      char* outPtr = buffer;
      std::size_t outLeft = sizeof buffer;
      const std::size_t rc = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
      if (rc == static_cast<std::size_t>(-1)) error = errno;
      out.append(buffer, sizeof buffer - outLeft);
      consumed = left - inLeft;
    }
    pos += consumed;
    if (error == E2BIG || (error == 0 && pos < input.size())) continue;
    if (error == EILSEQ) {
      std::size_t skip = 1;
      onBad(base + pos, input.size() - pos, cp1252, &skip, &out);
      pos += skip;
    } else if (error == EINVAL) {
      out.push_back('?');  // the input ends inside a multi-byte sequence
      break;
    } else if (error != 0) {
      out.push_back('?');  // should not happen; never loop on it
      break;
    }
  }
  if (cd != kNoConverter) {
    // Flush a stateful encoding's closing shift sequence.
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
  }
  return out;
}

}  // namespace

std::string AnsiCodePageName() {
  const char* forced = std::getenv("VESTREL_ANSI_CODEPAGE");
  if (forced != nullptr && *forced != '\0') return forced;
  const char* codeset = ::nl_langinfo(CODESET);
  return codeset != nullptr && *codeset != '\0' ? codeset : "ANSI_X3.4-1968";
}

bool AnsiCodePageIsUtf8() { return IsUtf8(AnsiCodePageName()); }

// Seven-bit text reads the same in every supported code page and in UTF-8; event documents are
// mostly base64, so they skip the converter.
static bool IsSevenBit(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string ConvertAnsiToUtf8(const std::string& ansi) {
  if (IsSevenBit(ansi)) return ansi;
  const std::string codePage = AnsiCodePageName();
  if (IsUtf8(codePage)) return SanitiseUtf8(ansi);
  return Convert(t_toUtf8.Get("UTF-8", codePage), ansi, IsCp1252(codePage), BadAnsiByte);
}

std::string ConvertUtf8ToAnsi(const std::string& utf8) {
  if (IsSevenBit(utf8)) return utf8;
  const std::string codePage = AnsiCodePageName();
  if (IsUtf8(codePage)) return SanitiseUtf8(utf8);
  return Convert(t_fromUtf8.Get(codePage, "UTF-8"), utf8, IsCp1252(codePage), BadUtf8Sequence);
}

}  // namespace platform
