// Date-time values as day counts since 1899-12-30 and their formatting.
#include "util/datetime.h"

#include <cmath>
#include <cstdint>

#include "util/regional.h"

namespace orv::util {

// H. Hinnant's algorithms.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
// Day numbers of 0001-01-01 and 9999-12-31 relative to 1899-12-30: the range that the
// four-digit year patterns can show. Values beyond it are shown at the nearest bound.
constexpr std::int64_t kFirstDay = -693593;
constexpr std::int64_t kLastDay = 2958465;

const std::int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);   // relative to 1970-01-01

std::string Pad(long long value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (static_cast<int>(digits.size()) < width)
    digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

// The long time format of the regional settings applied to a time of day.
std::string FormatLongTime(const RegionalSettings& rs, const DateTimeParts& p) {
  const std::string& f = rs.long_time_format;
  const bool twelve = f.find("AM/PM") != std::string::npos || f.find("am/pm") != std::string::npos;
  std::string out;
  for (std::size_t i = 0; i < f.size();) {
    const char c = f[i];
    const char lower = static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
    if (f.compare(i, 5, "AM/PM") == 0 || f.compare(i, 5, "am/pm") == 0) {
      const bool pm = p.hour >= 12;
      out += c == 'A' ? (pm ? "PM" : "AM") : (pm ? "pm" : "am");
      i += 5;
    } else if (lower == 'h' || lower == 'n' || lower == 's') {
      const bool two = i + 1 < f.size() && (f[i + 1] == c || f[i + 1] == (c ^ 0x20));
      int value = lower == 'n' ? p.minute : lower == 's' ? p.second : p.hour;
      if (lower == 'h' && twelve) value = value % 12 == 0 ? 12 : value % 12;
      out += Pad(value, two ? 2 : 1);
      i += two ? 2 : 1;
    } else if (c == ':') {
      out += rs.time_separator;
      ++i;
    } else if (c == '"' || c == '\'') {
      const std::size_t end = f.find(c, i + 1);
      const std::size_t stop = end == std::string::npos ? f.size() : end;
      out.append(f, i + 1, stop - i - 1);
      i = end == std::string::npos ? f.size() : end + 1;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace

TDateTime EncodeDateTime(const DateTimeParts& p) {
  const std::int64_t days =
      DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) -
      kEpochOffset;
  const double time =
      static_cast<double>(((static_cast<std::int64_t>(p.hour) * 60 + p.minute) * 60 + p.second) *
                              1000 +
                          p.millisecond) /
      static_cast<double>(kMsPerDay);
  const double date = static_cast<double>(days);
  return days < 0 ? date - time : date + time;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  if (std::isnan(value)) value = 0;
  if (value < static_cast<double>(kFirstDay)) value = static_cast<double>(kFirstDay);
  if (value >= static_cast<double>(kLastDay + 1)) value = static_cast<double>(kLastDay) + 0.999999;
  std::int64_t days = static_cast<std::int64_t>(std::trunc(value));
  std::int64_t ms = std::llround(std::fabs(value - static_cast<double>(days)) *
                                 static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) {   // rounding reached the next midnight
    ms -= kMsPerDay;
    days += value < 0 ? -1 : 1;
  }
  if (days > kLastDay) {
    days = kLastDay;
    ms = kMsPerDay - 1;
  }
  DateTimeParts p;
  CivilFromDays(days + kEpochOffset, p.year, p.month, p.day);
  p.millisecond = static_cast<int>(ms % 1000);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.hour = static_cast<int>(ms / 3600000);
  return p;
}

std::string FormatarDataHora(std::string_view pattern, TDateTime value) {
  const RegionalSettings rs = Regional();
  const DateTimeParts p = DecodeDateTime(value);
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    const std::string_view rest = pattern.substr(i);
    // Takes the token when the pattern goes on with it.
    const auto take = [&rest, &i](std::string_view token) {
      if (rest.substr(0, token.size()) != token) return false;
      i += token.size();
      return true;
    };
    if (take("yyyy")) {
      out += Pad(p.year, 4);
    } else if (take("zzz")) {
      out += Pad(p.millisecond, 3);
    } else if (take("mm")) {
      out += Pad(p.month, 2);
    } else if (take("dd")) {
      out += Pad(p.day, 2);
    } else if (take("tt")) {
      out += FormatLongTime(rs, p);
    } else if (take("/")) {
      out += rs.date_separator;
    } else if (take(":")) {
      out += rs.time_separator;
    } else {
      out += rest[0];
      ++i;
    }
  }
  return out;
}

}  // namespace orv::util
