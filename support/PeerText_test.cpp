#include "support/PeerText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PeerTextTest, LogSafeEscapesEveryControlAndKeepsTheRest) {
  const struct {
    std::string in;
    std::string out;
  } rows[] = {
      {"", ""},
      {"Ann Smith", "Ann Smith"},
      {"{\"isMatch\":false}\n2026-12-08 ERROR Vestrel - FORGED",
       "{\"isMatch\":false}\\n2026-12-08 ERROR Vestrel - FORGED"},
      {"a\r\nb", "a\\r\\nb"},
      {std::string("nul\0tab\tesc\x1b" "del\x7f", 16), "nul\\x00tab\\x09esc\\x1Bdel\\x7F"},
      {"Z\xC3\xBCrich \x80", "Z\xC3\xBCrich \x80"},
      {"back\\slash", "back\\slash"},
  };
  for (const auto& row : rows) EXPECT_EQ(LogSafe(row.in), row.out) << row.in;
}

TEST(PeerTextTest, XmlSafeReplacesWhatXmlForbidsAndCutsOnACharacter) {
  const std::string fffd = "\xEF\xBF\xBD";
  const struct {
    std::string in;
    std::size_t maxChars;
    std::string out;
  } rows[] = {
      {"", 256, ""},
      {"Ann\tB\r\nC & <D> \"'", 256, "Ann\tB\r\nC & <D> \"'"},
      {std::string("a\x01\0\x1F\x7F", 5), 256, "a" + fffd + fffd + fffd + "\x7F"},
      {"Z\xC3\xBC \xE4\xB8\xAD \xF0\x9F\x98\x80", 256, "Z\xC3\xBC \xE4\xB8\xAD \xF0\x9F\x98\x80"},
      {"\xFC\x80 \xC3 \xE4\xB8", 256, fffd + fffd + " " + fffd + " " + fffd},
      {"\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80", 256, fffd + " " + fffd + " " + fffd},
      {"\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD", 256, fffd + fffd + fffd},
      {"abcdef", 3, "abc"},
      {"\xC3\xA4\xC3\xB6\xC3\xBC", 2, "\xC3\xA4\xC3\xB6"},
      {"a\x02\xE4\xB8\xAD", 2, "a" + fffd},
      {std::string(300, 'x'), 256, std::string(256, 'x')},
  };
  for (const auto& row : rows) EXPECT_EQ(XmlSafe(row.in, row.maxChars), row.out) << row.in;
}

}  // namespace
