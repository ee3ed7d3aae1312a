#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "util/regional.h"
#include "util/text.h"

namespace orv::util {
namespace {

const std::string kSmile = "\xF0\x9F\x98\x80";   // U+1F600, two UTF-16 units
const std::string kFffd = "\xEF\xBF\xBD";

TEST(Utf16, CountsCodeUnitsAndCutsWithoutSplittingPairs) {
  struct Case {
    std::string text;
    std::size_t length;
  } cases[] = {
      {"", 0}, {"abc", 3}, {"a\xC3\xA9", 2}, {"\xE2\x82\xAC", 1}, {kSmile, 2},
      {"a" + kSmile + "b", 4},
      {"\xFF", 1},               // invalid byte: one replacement character
      {"\xE2\x82", 1},           // truncated sequence: one replacement
      {"\xED\xA0\x80", 3},       // encoded surrogate: each byte rejected
  };
  for (const auto& c : cases) EXPECT_EQ(Utf16Length(c.text), c.length) << c.text;

  const std::string s = "a" + kSmile + "b";
  EXPECT_EQ(Utf16Left(s, 0), "");
  EXPECT_EQ(Utf16Left(s, 1), "a");
  EXPECT_EQ(Utf16Left(s, 2), "a");   // would cut the pair: dropped whole
  EXPECT_EQ(Utf16Left(s, 3), "a" + kSmile);
  EXPECT_EQ(Utf16Left(s, 9), s);
  EXPECT_EQ(Utf16Right(s, 1), "b");
  EXPECT_EQ(Utf16Right(s, 2), "b");
  EXPECT_EQ(Utf16Right(s, 3), kSmile + "b");
  EXPECT_EQ(Utf16Right(s, 9), s);
  EXPECT_EQ(Utf16Left("x\xFFy", 2), "x" + kFffd);
}

TEST(Utf16, ConvertsBothWaysAndReplacesWhatIsIllFormed) {
  const std::u16string units = Utf8ToUtf16("a\xC3\xA9" + kSmile);
  EXPECT_EQ(units, (std::u16string{u'a', 0x00E9, 0xD83D, 0xDE00}));
  EXPECT_EQ(Utf16ToUtf8(units), "a\xC3\xA9" + kSmile);
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'x', 0xD83D}), "x" + kFffd);   // lone high surrogate
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDE00, u'y'}), kFffd + "y");   // lone low surrogate
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xFFFD, 0xFFFD}));   // overlong
}

TEST(Utf8, Validity) {
  struct Case {
    std::string bytes;
    bool valid;
  } cases[] = {
      {"", true}, {"plain", true}, {"\xC3\xA9", true}, {kSmile, true}, {"\xF4\x8F\xBF\xBF", true},
      {"\xC0\xAF", false},           // overlong
      {"\xE0\x80\xAF", false},       // overlong
      {"\xED\xA0\x80", false},       // surrogate
      {"\xF4\x90\x80\x80", false},   // beyond U+10FFFF
      {"\xC3", false},               // truncated
      {"\x80", false},               // stray continuation
      {"\xFE", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.bytes;
}

TEST(EscapeControls, EveryControlVisibleTheRestUnchanged) {
  using namespace std::string_literals;
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain text, ção \\ \"q\"", "plain text, ção \\ \"q\""},
      {"a\r\nb\tc", "a\\r\\nb\\tc"},
      {"\x01\x1F\x7F", "\\x01\\x1F\\x7F"},
      {"nul\0end"s, "nul\\x00end"},
      {"c1 \xC2\x85 \xC2\x9F, not \xC2\xA0", "c1 \\u0085 \\u009F, not \xC2\xA0"},
      {"ls \xE2\x80\xA8 ps \xE2\x80\xA9 en \xE2\x80\x93", "ls \\u2028 ps \\u2029 en \xE2\x80\x93"},
      {"cut \xC2", "cut \xC2"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeControls(c.in), c.out) << c.in;
}

TEST(AsciiFolding, OnlyLettersAToZ) {
  EXPECT_EQ(AsciiUpper("abz\xC3\xA9"), "ABZ\xC3\xA9");
  EXPECT_EQ(AsciiLower("ABZ\xC3\x89"), "abz\xC3\x89");
  EXPECT_TRUE(AsciiIEquals("Orvalen", "ORVALEN"));
  EXPECT_FALSE(AsciiIEquals("\xC3\xA9", "\xC3\x89"));   // é / É are not folded
  EXPECT_TRUE(AsciiIStartsWith("/SOAP/x", "/soap"));
  EXPECT_FALSE(AsciiIStartsWith("/so", "/soap"));
  EXPECT_TRUE(AsciiIContains("D:\\ORVALEN\\Bin", "orvalen"));
  EXPECT_EQ(TrimControl("\t\x01 a b \r\n"), "a b");
  EXPECT_EQ(TrimControl(" \x7F "), "\x7F");
}

TEST(CodePages, Windows1252TableRoundTripsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToWin1252(Win1252ToUtf8(all)), all);
  EXPECT_EQ(Win1252ToUtf8("\x80\x81\x9F\xE9"), "\xE2\x82\xAC\xC2\x81\xC5\xB8\xC3\xA9");
  EXPECT_EQ(Utf8ToWin1252("\xC4\x80" + kSmile + "\xC2\x80"), "???");   // Ā, 😀, U+0080
}

TEST(CodePages, NamedPages) {
  struct Case {
    const char* page;
    std::string utf8;
    std::string bytes;
  } cases[] = {
      {"WINDOWS-1252", "a\xE2\x82\xAC", "a\x80"},
      {"cp1252", "\xC3\xA7", "\xE7"},
      {"ISO-8859-1", "\xC3\xA9\xC2\x80", "\xE9\x80"},
      {"latin1", "\xE2\x82\xAC", "?"},
      {"ISO-8859-15", "\xE2\x82\xAC", "\xA4"},           // through iconv
      {"IBM850", "\xC3\xA7\xE2\x82\xAC", "\x87?"},       // ç, and € lacking
      {"UTF-8", "\xC3\xA7", "\xC3\xA7"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToCodePage(c.utf8, c.page), c.bytes) << c.page;
  EXPECT_EQ(CodePageToUtf8("\xA4\xE9", "ISO-8859-15"), "\xE2\x82\xAC\xC3\xA9");
  EXPECT_EQ(CodePageToUtf8("a\xFF" "b", "ISO-8859-7"), "a" + kFffd + "b");   // undefined byte
  EXPECT_EQ(CodePageToUtf8("a\x82", "SHIFT_JIS"), "a" + kFffd);   // incomplete at the end
  EXPECT_EQ(CodePageToUtf8("ok\xFF", "UTF-8"), "ok" + kFffd);
  EXPECT_THROW(Utf8ToCodePage("x", "NO-SUCH-PAGE"), std::invalid_argument);
  EXPECT_THROW(CodePageToUtf8("x", "NO-SUCH-PAGE"), std::invalid_argument);
}

TEST(CodePages, SingleByteOrNot) {
  for (const char* page : {"WINDOWS-1252", "ISO-8859-1", "ISO-8859-15", "CP1251", "IBM850"})
    EXPECT_TRUE(IsSingleByteCodePage(page)) << page;
  for (const char* page : {"UTF-8", "utf8", "SHIFT_JIS", "UTF-16LE"})
    EXPECT_FALSE(IsSingleByteCodePage(page)) << page;
  EXPECT_THROW(IsSingleByteCodePage("NO-SUCH-PAGE"), std::invalid_argument);
}

TEST(CodePages, AnsiFollowsTheRegionalSettingsInForce) {
  const RegionalSettings saved = Regional();
  SetRegional(RegionalPtBR());
  EXPECT_EQ(Utf8ToAnsi("a\xC3\xA7\xC3\xA3o"), "a\xE7\xE3o");
  EXPECT_EQ(AnsiToUtf8("a\xE7\xE3o\x80"), "a\xC3\xA7\xC3\xA3o\xE2\x82\xAC");
  EXPECT_EQ(ThroughAnsi("\xE6\x97\xA5" "a"), "?a");
  SetRegional(RegionalC());
  EXPECT_EQ(Utf8ToAnsi("\xE6\x97\xA5"), "\xE6\x97\xA5");
  EXPECT_EQ(ThroughAnsi("x\xFF"), "x" + kFffd);
  SetRegional(saved);
}

}  // namespace
}  // namespace orv::util
