// Date-times as the system keeps them: local wall-clock time as a floating-point count of days
// since 30 December 1899 00:00, the fraction being the time of day, millisecond precision.
// A duration is the difference of two date-times and is shown as a time of day.
//
// The clock is the Env's (Env::Now, env.h).
//
// Thread safety: all functions may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv::util {

using TDateTime = double;

// Days from 1970-01-01 of a proleptic Gregorian date, and the date of a day number.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d);
void CivilFromDays(std::int64_t z, int& y, int& m, int& d);

struct DateTimeParts {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, millisecond = 0;
};
TDateTime EncodeDateTime(const DateTimeParts& parts);
// Rounds to the nearest millisecond. For negative values (before 1899-12-30) the date part is
// the integral part and the time is the absolute value of the fraction, as customary.
// NaN reads as 0; values outside 0001-01-01 .. 9999-12-31 23:59:59.999 read as the nearest bound.
DateTimeParts DecodeDateTime(TDateTime value);

// Formats a moment by a pattern: "yyyy" four-digit year, "mm" two-digit month, "dd" two-digit
// day, "tt" the long time format of the regional settings, "zzz" three-digit milliseconds,
// "/" the date separator, ":" the time separator; any other character is copied unchanged.
// Durations are formatted as a time of day (whole days are not shown).
std::string FormatarDataHora(std::string_view pattern, TDateTime value);

}  // namespace orv::util
