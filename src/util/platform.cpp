// POSIX and Windows implementations of the operating-system layer that no test varies.
#include "util/platform.h"

#include <cerrno>
#include <cstdio>

#include "util/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <locale.h>
#include <unistd.h>
#endif

namespace orv::util::platform {

#ifdef _WIN32

namespace {
std::string Narrow(const wchar_t* text, std::size_t length) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}
std::string LocaleText(LCTYPE what, const char* fallback) {
  wchar_t buffer[128];
  const int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, what, buffer, 128);
  if (n <= 1) return fallback;
  return Narrow(buffer, static_cast<std::size_t>(n - 1));
}
// Windows time pictures use H/HH (24 h), h/hh (12 h), m/mm, s/ss and t/tt (AM/PM).
std::string TimePicture(const std::string& picture) {
  std::string out;
  bool twelve = false;
  for (std::size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    std::size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    switch (c) {
      case 'H': out += run >= 2 ? "hh" : "h"; break;
      case 'h': out += run >= 2 ? "hh" : "h"; twelve = true; break;
      case 'm': out += run >= 2 ? "nn" : "n"; break;
      case 's': out += run >= 2 ? "ss" : "s"; break;
      case 't': out += "AM/PM"; break;
      case '\'': {
        const std::size_t end = picture.find('\'', i + 1);
        out += picture.substr(i, end == std::string::npos ? std::string::npos : end - i + 1);
        i = end == std::string::npos ? picture.size() : end + 1;
        continue;
      }
      default: out.append(run, c); break;
    }
    i += run;
  }
  if (twelve && out.find("AM/PM") == std::string::npos) out += " AM/PM";
  return out;
}
}  // namespace

std::tm LocalTime(std::time_t moment) {
  std::tm parts{};
  localtime_s(&parts, &moment);
  return parts;
}

RegionalSettings HostRegionalSettings() {
  RegionalSettings s;
  s.date_separator = LocaleText(LOCALE_SDATE, "/");
  s.time_separator = LocaleText(LOCALE_STIME, ":");
  s.long_time_format = TimePicture(LocaleText(LOCALE_STIMEFORMAT, "HH:mm:ss"));
  s.decimal_separator = LocaleText(LOCALE_SDECIMAL, ".");
  const UINT acp = GetACP();
  s.ansi_code_page = acp == CP_UTF8 ? "UTF-8" : "WINDOWS-" + std::to_string(acp);
  return s;
}

#else  // POSIX

namespace {
// The first literal character of a strftime picture that is not blank: the separator.
std::string SeparatorOf(const char* picture, const char* fallback) {
  for (const char* p = picture; p != nullptr && *p != '\0'; ++p) {
    if (*p == '%') {
      ++p;
      while (*p == 'E' || *p == 'O' || *p == '-' || *p == '_' || *p == '0' || *p == '^' || *p == '#')
        ++p;
      if (*p == '\0') break;
      continue;
    }
    if (*p != ' ') return std::string(1, *p);
  }
  return fallback;
}

// strftime time picture -> the long time format tokens of regional.h.
std::string TimePicture(const char* picture, const std::string& separator) {
  std::string out;
  for (const char* p = picture; p != nullptr && *p != '\0'; ++p) {
    if (*p != '%') {
      const unsigned char c = static_cast<unsigned char>(*p);
      if (std::string(1, *p) == separator) {
        out += ':';
      } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ':' || c == '"' ||
                 c == '\'') {
        out += '"';
        out += *p == '"' ? '\'' : *p;
        out += '"';
      } else {
        out += *p;
      }
      continue;
    }
    ++p;
    while (*p == 'E' || *p == 'O' || *p == '-' || *p == '_' || *p == '0' || *p == '^' || *p == '#')
      ++p;
    switch (*p) {
      case 'H': out += "hh"; break;
      case 'k': out += "h"; break;
      case 'I': out += "hh"; break;
      case 'l': out += "h"; break;
      case 'M': out += "nn"; break;
      case 'S': out += "ss"; break;
      case 'p': out += "AM/PM"; break;
      case 'P': out += "am/pm"; break;
      case 'T': out += "hh:nn:ss"; break;
      case 'R': out += "hh:nn"; break;
      case 'r': out += "hh:nn:ss AM/PM"; break;
      case '%': out += '%'; break;
      case '\0': return out.empty() ? "hh:nn:ss" : out;
      default: break;
    }
  }
  return out.empty() ? "hh:nn:ss" : out;
}
}  // namespace

std::tm LocalTime(std::time_t moment) {
  std::tm parts{};
  localtime_r(&moment, &parts);
  return parts;
}

RegionalSettings HostRegionalSettings() {
  // newlocale reads LANG/LC_* exactly as setlocale(LC_ALL, "") would, without changing the
  // process's global locale.
  locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr))
    loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  RegionalSettings s;
  s.date_separator = SeparatorOf(nl_langinfo_l(D_FMT, loc), "/");
  s.time_separator = SeparatorOf(nl_langinfo_l(T_FMT, loc), ":");
  s.long_time_format = TimePicture(nl_langinfo_l(T_FMT, loc), s.time_separator);
  const char* radix = nl_langinfo_l(RADIXCHAR, loc);
  s.decimal_separator = (radix != nullptr && *radix != '\0') ? radix : ".";
  const std::string codeset = nl_langinfo_l(CODESET, loc);
  // The C/POSIX locale reports 7-bit ASCII; the system's text is UTF-8 there.
  s.ansi_code_page = (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII")
                         ? std::string("UTF-8")
                         : codeset;
  freelocale(loc);
  return s;
}

#endif

void ConfigureAllocator(std::size_t mmap_threshold, int arenas) {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(mmap_threshold));
  mallopt(M_ARENA_MAX, arenas);
#else
  (void)mmap_threshold;
  (void)arenas;
#endif
}

void LowerCurrentThreadPriority(int niceness) {
#if defined(__linux__)
  // On Linux a thread is a task with a priority of its own, named by its thread id.
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, tid);
  if (errno == 0) setpriority(PRIO_PROCESS, tid, current + niceness);
#else
  (void)niceness;
#endif
}

void NameCurrentThread(const char* name) {
#if defined(__linux__)
  char cut[16] = {};
  std::snprintf(cut, sizeof cut, "%s", name);
  pthread_setname_np(pthread_self(), cut);
#else
  (void)name;
#endif
}

std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

}  // namespace orv::util::platform
