#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <thread>
#include <vector>

namespace platform {
namespace {

// Each test fixes the code page itself, so nothing depends on the machine's locale.
class CodePageTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ::unsetenv("VESTREL_ANSI_CODEPAGE");
    std::setlocale(LC_ALL, "C");
  }
  static void UseCodePage(const char* name) { ::setenv("VESTREL_ANSI_CODEPAGE", name, 1); }
  static void UseUtf8Locale() {
    ::unsetenv("VESTREL_ANSI_CODEPAGE");
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  }
};

TEST_F(CodePageTest, Cp1252ToUtf8) {
  UseCodePage("CP1252");
  EXPECT_EQ(AnsiCodePageName(), "CP1252");
  EXPECT_EQ(ConvertAnsiToUtf8("Z\xFCrich \x80 \x93q\x94 \x9F"),
            "Z\xC3\xBCrich \xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D \xC5\xB8");
  EXPECT_EQ(ConvertAnsiToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(ConvertAnsiToUtf8(""), "");
}

TEST_F(CodePageTest, Cp1252UndefinedBytesMapToTheSameCodePointsAndBack) {
  UseCodePage("WINDOWS-1252");
  const std::string holes = "\x81x\x8D\x8F\x90\x9D";
  const std::string utf8 = "\xC2\x81x\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D";
  EXPECT_EQ(ConvertAnsiToUtf8(holes), utf8);
  EXPECT_EQ(ConvertUtf8ToAnsi(utf8), holes);
}

TEST_F(CodePageTest, Utf8ToCp1252GivesOneQuestionMarkPerCharacter) {
  UseCodePage("CP1252");
  EXPECT_EQ(ConvertUtf8ToAnsi("Z\xC3\xBCrich \xE2\x82\xAC \xC4\x80 \xE4\xB8\xAD\xE6\x96\x87 "
                              "\xF0\x9F\x98\x80 end"),
            "Z\xFCrich \x80 ? ?? ? end");
  // Invalid input: each bad sequence is one '?', and a cut sequence at the end is one too.
  EXPECT_EQ(ConvertUtf8ToAnsi("a\xE9z \xC3 \xE4\xB8"), "a?z ? ?");
  EXPECT_EQ(ConvertUtf8ToAnsi("\x80\xBF|\xC0\xAF|\xED\xA0\x80|\xFF"), "??|?|?|?");
}

TEST_F(CodePageTest, LongTextCrossesTheConversionBuffer) {
  UseCodePage("CP1252");
  std::string ansi;
  std::string utf8;
  for (int i = 0; i < 3000; ++i) {
    ansi += "\x80\x81";
    utf8 += "\xE2\x82\xAC\xC2\x81";
  }
  EXPECT_EQ(ConvertAnsiToUtf8(ansi), utf8);
  EXPECT_EQ(ConvertUtf8ToAnsi(utf8), ansi);
  EXPECT_EQ(ConvertUtf8ToAnsi(utf8 + "\xE2\x82"), ansi + "?");
}

TEST_F(CodePageTest, ThreadsConvertAtTheSameTime) {
  UseCodePage("CP1252");
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 500; ++i) {
        if (ConvertUtf8ToAnsi(ConvertAnsiToUtf8("caf\xE9 \x80")) != "caf\xE9 \x80") ++failures[t];
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST_F(CodePageTest, Utf8LocaleIsIdentityForValidText) {
  UseUtf8Locale();
  EXPECT_EQ(AnsiCodePageName(), "UTF-8");
  const std::string text = "Z\xC3\xBCrich \xE2\x82\xAC \xE4\xB8\xAD \xF0\x9F\x98\x80 \xC2\x81";
  EXPECT_EQ(ConvertAnsiToUtf8(text), text);
  EXPECT_EQ(ConvertUtf8ToAnsi(text), text);
}

TEST_F(CodePageTest, Utf8LocaleReplacesEachInvalidSequence) {
  UseUtf8Locale();
  EXPECT_EQ(ConvertUtf8ToAnsi("a\xE9z \xC3 \xE4\xB8"), "a?z ? ?");
  EXPECT_EQ(ConvertAnsiToUtf8("caf\xE9!"), "caf?!");
  EXPECT_EQ(ConvertAnsiToUtf8("\xC0\xAF"), "?");          // overlong '/'
  EXPECT_EQ(ConvertAnsiToUtf8("\xED\xA0\x80x"), "?x");    // surrogate
  EXPECT_EQ(ConvertAnsiToUtf8("\xF4\x90\x80\x80"), "?");  // beyond U+10FFFF
  EXPECT_EQ(ConvertAnsiToUtf8("\x80\x80"), "??");         // stray continuation bytes
  EXPECT_EQ(ConvertAnsiToUtf8("ok\xF0\x9F\x98"), "ok?");  // cut at the end
}

TEST_F(CodePageTest, AsciiLocaleAndUnknownCodePageKeepOnlyAscii) {
  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
  EXPECT_EQ(ConvertUtf8ToAnsi("caf\xC3\xA9 \xE2\x82\xAC"), "caf? ?");
  EXPECT_EQ(ConvertAnsiToUtf8("caf\xE9"), "caf?");
  UseCodePage("NO-SUCH-CODEPAGE");
  EXPECT_EQ(ConvertUtf8ToAnsi("caf\xC3\xA9 \xE2\x82\xAC"), "caf? ?");
  EXPECT_EQ(ConvertAnsiToUtf8("caf\xE9"), "caf?");
}

}  // namespace
}  // namespace platform
