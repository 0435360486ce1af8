#include "support/TextHelpers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <string>

#include "platform/Environment.h"

namespace {

// Runs each test under a chosen ANSI code page and restores the environment afterwards.
class TextHelpersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = platform::GetEnvironmentVariable("VESTREL_ANSI_CODEPAGE");
    std::setlocale(LC_ALL, "C.UTF-8");
  }
  void TearDown() override { platform::SetEnvironmentVariable("VESTREL_ANSI_CODEPAGE", saved_); }
  void UseCodePage(const std::string& name) {
    platform::SetEnvironmentVariable("VESTREL_ANSI_CODEPAGE", name);
  }

  static std::string ToUtf8(const std::string& ansi, int* result = nullptr) {
    char* out = nullptr;
    const int n = AnsiToUtf8(ansi.c_str(), &out);
    std::unique_ptr<char[]> owned(out);
    if (result != nullptr) *result = n;
    return std::string(out);
  }
  static std::string ToAnsi(const std::string& utf8) {
    std::unique_ptr<char[]> owned(Utf8ToAnsi(utf8.c_str()));
    return std::string(owned.get());
  }

  std::string saved_;
};

TEST_F(TextHelpersTest, EmptyTextGivesOnlyTheTerminator) {
  UseCodePage("CP1252");
  int n = 0;
  EXPECT_EQ(ToUtf8("", &n), "");
  EXPECT_EQ(n, 1);
  EXPECT_EQ(ToAnsi(""), "");
}

TEST_F(TextHelpersTest, ResultCountsUtf8BytesAndTerminator) {
  UseCodePage("CP1252");
  int n = 0;
  EXPECT_EQ(ToUtf8("Z\xFCrich \x80", &n), "Z\xC3\xBCrich \xE2\x82\xAC");
  EXPECT_EQ(n, 12);
}

TEST_F(TextHelpersTest, Cp1252RoundTripsAccentedLetters) {
  UseCodePage("CP1252");
  const std::string ansi = "Ren\xE9 M\xFCller \x93quoted\x94";
  const std::string utf8 = ToUtf8(ansi);
  EXPECT_EQ(utf8, "Ren\xC3\xA9 M\xC3\xBCller \xE2\x80\x9Cquoted\xE2\x80\x9D");
  EXPECT_EQ(ToAnsi(utf8), ansi);
}

TEST_F(TextHelpersTest, UnrepresentableCharactersBecomeOneQuestionMarkEach) {
  UseCodePage("CP1252");
  // Chinese name, an emoji and a Latin Extended letter: none exists in CP1252.
  EXPECT_EQ(ToAnsi("\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 \xC4\x80!"), "?? ? ?!");
}

TEST_F(TextHelpersTest, InvalidUtf8GivesOneQuestionMarkPerBadSequence) {
  UseCodePage("CP1252");
  EXPECT_EQ(ToAnsi("a\xE9z \xC3"), "a?z ?");
  EXPECT_EQ(ToAnsi("\xE4\xB8"), "?");  // cut three-byte sequence at the end
}

TEST_F(TextHelpersTest, Utf8CodePageIsIdentityForValidText) {
  UseCodePage("UTF-8");
  const std::string text = "Z\xC3\xBCrich \xE4\xB8\xAD\xE6\x96\x87";
  EXPECT_EQ(ToUtf8(text), text);
  EXPECT_EQ(ToAnsi(text), text);
}

TEST_F(TextHelpersTest, Utf8CodePageReplacesInvalidInput) {
  UseCodePage("UTF-8");
  EXPECT_EQ(ToAnsi("ok\xFF" "end"), "ok?end");
  EXPECT_EQ(ToUtf8("ok\xC3"), "ok?");
}

TEST_F(TextHelpersTest, NullInputIsTreatedAsEmpty) {
  char* out = nullptr;
  EXPECT_EQ(AnsiToUtf8(nullptr, &out), 1);
  std::unique_ptr<char[]> owned(out);
  EXPECT_STREQ(out, "");
  std::unique_ptr<char[]> ansi(Utf8ToAnsi(nullptr));
  EXPECT_STREQ(ansi.get(), "");
}

}  // namespace
