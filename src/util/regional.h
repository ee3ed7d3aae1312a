// The host's regional settings: date and time separators, long time format, decimal separator
// and the ANSI code page. They are held in one process-wide place so that tests can set a
// known profile (Brazilian Portuguese, the C locale) and the formatting helpers read the
// settings in force at the time of each call.
//
// Thread safety: Regional() returns a snapshot; SetRegional() may be called from any thread
// (tests call it before starting work) and later calls see the new values.
#pragma once

#include <string>

namespace orv::util {

struct RegionalSettings {
  std::string date_separator = "/";
  std::string time_separator = ":";
  // Long time format in the usual tokens: h/hh hours, n/nn minutes, s/ss seconds,
  // "AM/PM" or "am/pm" for a 12-hour clock, ':' stands for time_separator, text in quotes is
  // copied. Brazilian Portuguese: "hh:nn:ss".
  std::string long_time_format = "hh:nn:ss";
  std::string decimal_separator = ",";
  // "ANSI" code page: "WINDOWS-1252" on a Brazilian Windows host; elsewhere the locale's
  // character set, normally "UTF-8".
  std::string ansi_code_page = "UTF-8";
};

RegionalSettings RegionalPtBR();   // "/", ":", "hh:nn:ss", ",", WINDOWS-1252
RegionalSettings RegionalC();      // "/", ":", "hh:nn:ss", ".", UTF-8
// Read from the host: on POSIX the locale that LANG/LC_* name (as setlocale(LC_ALL, "")
// would choose, without changing the process locale; the 7-bit C locale counts as UTF-8);
// on Windows the user's regional settings and the ANSI code page ("WINDOWS-<n>").
RegionalSettings RegionalFromHost();

// The settings in force; read from the host on first use unless SetRegional came first.
RegionalSettings Regional();
void SetRegional(const RegionalSettings& settings);

}  // namespace orv::util
