#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "util/regional.h"
#include "util/text.h"
#include "util/utilities.h"

namespace orv::util {
namespace {

class WithRegional : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = Regional(); }
  void TearDown() override { SetRegional(saved_); }
  RegionalSettings saved_;
};

using FormatarTamanhoTest = WithRegional;

TEST_F(FormatarTamanhoTest, UnitBoundsAndRounding) {
  SetRegional(RegionalPtBR());
  struct Case {
    std::int64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 B"},
      {-5, "-5 B"},
      {512, "512 B"},
      {1023, "1023 B"},
      {1024, "1 KB"},
      {1029, "1 KB"},            // 1.0048...
      {1030, "1,01 KB"},         // 1.0058...
      {1152, "1,13 KB"},         // exactly 1.125: half away from zero
      {1536, "1,5 KB"},
      {1048575, "1024 KB"},      // bound tested before dividing
      {1048576, "1 MB"},
      {1073741823, "1024 MB"},
      {1073741824, "1 GB"},
      {2147483647, "2 GB"},
      {5368709120, "5 GB"},      // past 2^31 the count keeps growing in GB
  };
  for (const auto& c : cases) EXPECT_EQ(FormatarTamanho(c.bytes), c.text) << c.bytes;
  SetRegional(RegionalC());
  EXPECT_EQ(FormatarTamanho(1536), "1.5 KB");
}

TEST(CompletarTexto, TrimsPadsAndCuts) {
  const std::string smile = "\xF0\x9F\x98\x80";
  struct Case {
    std::string text;
    int length;
    std::string filler;
    char side;
    std::string expected;
  } cases[] = {
      {"  ab ", 4, "0", 'R', "ab00"},
      {"  ab ", 4, "0", 'L', "00ab"},
      {"  ab ", 4, "0", 'E', "00ab"},
      {"  ab ", 4, "0", 'l', "ab00"},   // only capital L and E right-align
      {"  ab ", 4, "0", 'e', "ab00"},
      {"abcdef", 4, "0", 'R', "abcd"},
      {"abcdef", 4, "0", 'E', "cdef"},
      {"\t\x01" "abcdef\r\n", 4, "0", 'L', "cdef"},
      {"ab", 5, "xy", 'R', "abxyx"},    // a longer filler overshoots, then is cut
      {"ab", 5, "xy", 'L', "yxyab"},
      {"ab", 4, "", 'R', "ab"},         // empty filler: no padding, no endless loop
      {"ab", 0, "0", 'R', ""},
      {"ab", -3, "0", 'L', ""},
      {"a", 3, "\xC3\xA9", 'L', "\xC3\xA9\xC3\xA9" "a"},   // widths count UTF-16 units
      {smile + smile, 3, "0", 'R', smile},                    // a pair is never split
      {smile + smile, 3, "0", 'L', smile},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CompletarTexto(c.text, c.length, c.filler, c.side), c.expected)
        << '"' << c.text << "\" " << c.length << " '" << c.side << "'";
}

TEST(QuebrarTexto, SplitsAtEveryDelimiter) {
  using V = std::vector<std::string>;
  struct Case {
    std::string text, delimiter;
    V items;
  } cases[] = {
      {"a;b;", ";", V{"a", "b", ""}},
      {"", ";", V{""}},
      {"a;;b", ";", V{"a", "", "b"}},
      {" a ; b", ";", V{" a ", " b"}},
      {"'x;y';z", ";", V{"'x", "y'", "z"}},   // quotes mean nothing
      {"a<>b<>", "<>", V{"a", "b", ""}},
      {"a;b", "", V{"a;b"}},
      {"abc", ";", V{"abc"}},
  };
  for (const auto& c : cases) EXPECT_EQ(QuebrarTexto(c.text, c.delimiter), c.items) << c.text;
}

TEST(XorTexto, ScramblesTheLowByteOfEveryUnit) {
  std::string latin1;   // every character U+0000..U+00FF
  for (char16_t c = 0; c < 256; ++c) latin1 += Utf16ToUtf8(std::u16string(1, c));
  for (std::uint16_t key : {std::uint16_t{917}, std::uint16_t{0xFF00}, std::uint16_t{0x0100}}) {
    const std::string once = XorTexto(latin1, key);
    EXPECT_NE(once, latin1) << key;
    EXPECT_EQ(Utf16Length(once), 256u);
    EXPECT_EQ(XorTexto(once, key), latin1) << key;   // the same call unscrambles
  }
  struct Case {
    std::string text;
    std::uint16_t key;
    std::string expected;
  } cases[] = {
      {"abc", 917, "ba`"},                        // 917 >> 8 = 3
      {"\xE6\x97\xA5\xE6\x9C\xAC", 0x00FF, "\xE6\x97\xA5\xE6\x9C\xAC"},   // key byte 0: unchanged
      {"\xE6\x97\xA5", 917, "\xC3\xA6"},          // U+65E5 -> high byte cleared -> 0xE5^3 = æ
      {"\xF0\x9F\x98\x80", 917, ">" "\x03"},      // D83D DE00: each unit on its own
      {"a\x03" "b", 917, std::string("b\0a", 3)},  // low byte equal to the key byte -> U+0000
      {"", 917, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(XorTexto(c.text, c.key), c.expected) << c.text;
  EXPECT_EQ(CifrarTexto("localhost"), XorTexto("localhost", 917));
}

TEST(RegionalSettingsTest, HostLocaleAndProfiles) {
  const char* old = std::getenv("LC_ALL");
  const std::string saved = old ? old : "";
  for (const char* name : {"C", "C.UTF-8"}) {
    ::setenv("LC_ALL", name, 1);
    const RegionalSettings host = RegionalFromHost();
    EXPECT_EQ(host.decimal_separator, ".") << name;
    EXPECT_EQ(host.date_separator, "/") << name;
    EXPECT_EQ(host.time_separator, ":") << name;
    EXPECT_EQ(host.long_time_format, "hh:nn:ss") << name;
    EXPECT_EQ(host.ansi_code_page, "UTF-8") << name;
  }
  if (old) ::setenv("LC_ALL", saved.c_str(), 1); else ::unsetenv("LC_ALL");
  EXPECT_EQ(RegionalPtBR().decimal_separator, ",");
  EXPECT_EQ(RegionalPtBR().ansi_code_page, "WINDOWS-1252");
  EXPECT_EQ(RegionalC().decimal_separator, ".");
}

}  // namespace
}  // namespace orv::util
