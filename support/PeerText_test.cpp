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

}  // namespace
