#include <gtest/gtest.h>

#include <limits>

#include "util/datetime.h"
#include "util/regional.h"

namespace orv::util {
namespace {

class DateTimeTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = Regional(); }
  void TearDown() override { SetRegional(saved_); }
  RegionalSettings saved_;
};

bool SameParts(const DateTimeParts& a, const DateTimeParts& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second && a.millisecond == b.millisecond;
}

TEST_F(DateTimeTest, EncodeAndDecode) {
  struct Case {
    DateTimeParts parts;
    double value;
  } cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
      {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
      {{1899, 12, 30, 12, 0, 0, 0}, 0.5},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},   // before the epoch: date minus time
      {{2024, 2, 29, 13, 45, 30, 250}, 45351.573266782405},
      {{1, 1, 1, 0, 0, 0, 0}, -693593.0},
      {{9999, 12, 31, 23, 59, 59, 999}, 2958465.99999998843},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(EncodeDateTime(c.parts), c.value, 1e-9) << c.value;
    EXPECT_TRUE(SameParts(DecodeDateTime(c.value), c.parts)) << c.value;
  }
  // 23:59:59.9996 rounds to the next midnight.
  EXPECT_TRUE(SameParts(DecodeDateTime(1.0 - 0.0004 / 86400.0), {1899, 12, 31, 0, 0, 0, 0}));
}

TEST_F(DateTimeTest, FormatsWithTheRegionalSettings) {
  const TDateTime t = EncodeDateTime({2024, 3, 5, 7, 8, 9, 45});
  RegionalSettings custom = RegionalC();
  custom.date_separator = "-";
  custom.time_separator = ".";
  custom.long_time_format = "h:nn:ss AM/PM";
  RegionalSettings quoted = RegionalC();
  quoted.long_time_format = "hh'h'nn\"m\"";
  struct Case {
    RegionalSettings settings;
    const char* pattern;
    TDateTime value;
    const char* expected;
  } cases[] = {
      {RegionalPtBR(), "yyyy-mm-dd tt", t, "2024-03-05 07:08:09"},
      {RegionalPtBR(), "dd/mm/yyyy tt.zzz", t, "05/03/2024 07:08:09.045"},
      {RegionalPtBR(), "tt.zzz", t, "07:08:09.045"},
      {RegionalPtBR(), "yyyy-mm-dd", t, "2024-03-05"},
      {RegionalC(), "dd/mm/yyyy tt", t, "05/03/2024 07:08:09"},
      {custom, "dd/mm/yyyy tt", t, "05-03-2024 7.08.09 AM"},
      {custom, "tt", t + 0.5, "7.08.09 PM"},
      {custom, "tt", EncodeDateTime({2024, 3, 5, 0, 5, 0, 0}), "12.05.00 AM"},
      {quoted, "tt", t, "07h08m"},
      {RegionalPtBR(), "tt.zzz", 1.5 + 0.001 / 86400, "12:00:00.001"},   // a duration
      {RegionalPtBR(), "yyyy-mm-dd", std::numeric_limits<double>::quiet_NaN(), "1899-12-30"},
      {RegionalPtBR(), "yyyy-mm-dd", 1e300, "9999-12-31"},
      {RegionalPtBR(), "yyyy-mm-dd", -1e300, "0001-01-01"},
      {RegionalPtBR(), "[m y d t z]", t, "[m y d t z]"},
  };
  for (const auto& c : cases) {
    SetRegional(c.settings);
    EXPECT_EQ(FormatarDataHora(c.pattern, c.value), c.expected) << c.pattern;
  }
}

}  // namespace
}  // namespace orv::util
