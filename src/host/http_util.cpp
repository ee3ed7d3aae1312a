// Text helpers of the HTTP layer.
#include "host/http_util.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "util/datetime.h"
#include "util/text.h"

namespace orv::host {
namespace {

// 1970-01-01 is day 25569 of the date-time scale.
constexpr std::int64_t kUnixEpochDay = 25569;

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 7> kWeekDays = {"Sun", "Mon", "Tue", "Wed",
                                                  "Thu", "Fri", "Sat"};

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::string PercentDecode(std::string_view text, bool plus_as_space) {
  return util::SanitisedUtf8(PercentDecodeBytes(text, plus_as_space));
}

std::string PercentDecodeBytes(std::string_view text, bool plus_as_space) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      const int hi = util::HexDigitValue(text[i + 1]);
      const int lo = util::HexDigitValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += (plus_as_space && c == '+') ? ' ' : c;
  }
  return out;
}

bool Base64Decode(std::string_view text, std::string& out) {
  out.clear();
  std::uint32_t acc = 0;
  int bits = 0;
  std::size_t pad = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else if (c == '=') { ++pad; continue; }
    else return false;
    if (pad > 0) return false;   // data after padding
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return pad <= 2;
}

std::int64_t ParseDecimal(std::string_view text) {
  if (!AllDigits(text) || text.size() > 18) return -1;
  std::int64_t v = 0;
  for (char c : text) v = v * 10 + (c - '0');
  return v;
}

util::TDateTime ParseHttpDate(std::string_view text) {
  // Tokens separated by spaces, commas and dashes; the time is the token with colons.
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == ',' || text[i] == '-')) ++i;
    std::size_t j = i;
    while (j < text.size() && text[j] != ' ' && text[j] != ',' && text[j] != '-') ++j;
    if (j > i) tokens.push_back(text.substr(i, j - i));
    i = j;
  }
  int day = -1, month = -1, hour = -1, minute = -1, second = -1;
  std::int64_t year = -1;
  for (std::string_view t : tokens) {
    if (t.find(':') != std::string_view::npos) {
      if (t.size() != 8 || t[2] != ':' || t[5] != ':' || !AllDigits(t.substr(0, 2)) ||
          !AllDigits(t.substr(3, 2)) || !AllDigits(t.substr(6, 2)) || hour >= 0)
        return -1;
      hour = (t[0] - '0') * 10 + (t[1] - '0');
      minute = (t[3] - '0') * 10 + (t[4] - '0');
      second = (t[6] - '0') * 10 + (t[7] - '0');
      continue;
    }
    if (AllDigits(t)) {
      if (t.size() <= 2 && day < 0) {
        day = static_cast<int>(ParseDecimal(t));
      } else if ((t.size() == 2 || t.size() == 4) && year < 0) {
        year = ParseDecimal(t);
        if (t.size() == 2) year += year < 50 ? 2000 : 1900;
      } else {
        return -1;
      }
      continue;
    }
    bool known = false;
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
      if (util::AsciiIEquals(t, kMonths[m])) {
        if (month >= 0) return -1;
        month = static_cast<int>(m) + 1;
        known = true;
      }
    }
    if (known) continue;
    if (util::AsciiIEquals(t, "GMT") || util::AsciiIEquals(t, "UTC")) continue;
    bool weekday = false;
    for (const char* w : kWeekDays) {
      if (util::AsciiIStartsWith(t, w)) weekday = true;
    }
    if (!weekday) return -1;
  }
  if (day < 1 || day > 31 || month < 1 || year < 1601 || year > 9999 || hour < 0 ||
      hour > 23 || minute > 59 || second > 60)
    return -1;
  const std::int64_t days = util::DaysFromCivil(year, static_cast<unsigned>(month),
                                                static_cast<unsigned>(day));
  int cy, cm, cd;
  util::CivilFromDays(days, cy, cm, cd);
  if (cd != day) return -1;   // 31 February and the like
  const double seconds = hour * 3600.0 + minute * 60.0 + second;
  return static_cast<double>(days + kUnixEpochDay) + seconds / 86400.0;
}

std::string FormatHttpDate(util::TDateTime value) {
  const double whole = std::floor(value);
  auto ms = static_cast<std::int64_t>(std::llround((value - whole) * 86400000.0));
  auto days = static_cast<std::int64_t>(whole) - kUnixEpochDay;
  if (ms >= 86400000) {
    ms -= 86400000;
    ++days;
  }
  const std::int64_t secs = ms / 1000;
  int y, m, d;
  util::CivilFromDays(days, y, m, d);
  const auto weekday = static_cast<std::size_t>(((days % 7) + 7 + 4) % 7);   // 1970-01-01: Thu
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", kWeekDays[weekday], d,
                kMonths[m - 1], y, static_cast<int>(secs / 3600),
                static_cast<int>((secs / 60) % 60), static_cast<int>(secs % 60));
  return buf;
}

ContentTypeParts SplitContentType(std::string_view value) {
  ContentTypeParts parts;
  // Split at semicolons outside double quotes.
  std::vector<std::string_view> pieces;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= value.size(); ++i) {
    if (i == value.size() || (value[i] == ';' && !quoted)) {
      pieces.push_back(value.substr(start, i - start));
      start = i + 1;
    } else if (value[i] == '"') {
      quoted = !quoted;
    }
  }
  parts.media_type = std::string(util::TrimBlanks(pieces.front()));
  for (std::size_t k = 1; k < pieces.size(); ++k) {
    const std::string_view p = util::TrimBlanks(pieces[k]);
    if (p.empty()) continue;
    const std::size_t eq = p.find('=');
    const std::string_view name = util::TrimBlanks(p.substr(0, eq));
    const std::string val = eq == std::string_view::npos ? std::string() : util::Unquote(p.substr(eq + 1));
    if (util::AsciiIEquals(name, "charset")) {
      parts.charset = val;
      parts.has_charset = true;
    } else {
      parts.other_params += "; ";
      parts.other_params += name;
      parts.other_params += "=";
      parts.other_params += val;
    }
  }
  return parts;
}

std::string RenderContentType(std::string_view content_type) {
  if (util::TrimBlanks(content_type).empty()) return {};
  const ContentTypeParts parts = SplitContentType(content_type);
  std::string charset = parts.charset;
  if (!parts.has_charset || charset.empty()) {
    if (!util::AsciiIStartsWith(parts.media_type, "text/")) {
      return parts.media_type + parts.other_params;
    }
    const std::string lower = util::AsciiLower(parts.media_type);
    const bool xml = lower == "text/xml" || lower == "text/xml-external-parsed-entity" ||
                     (lower.size() > 4 && lower.compare(lower.size() - 4, 4, "+xml") == 0);
    charset = xml ? "us-ascii" : "ISO-8859-1";
  }
  // Quotes only when the value holds a character that a token may not contain.
  bool needs_quotes = false;
  for (char c : charset) {
    if (c <= ' ' || c == '"' || c == '(' || c == ')' || c == '<' || c == '>' || c == '@' ||
        c == ',' || c == ';' || c == ':' || c == '\\' || c == '/' || c == '[' || c == ']' ||
        c == '?' || c == '=' || c == '{' || c == '}' || static_cast<unsigned char>(c) >= 127)
      needs_quotes = true;
  }
  if (needs_quotes) {
    std::string quoted = "\"";
    for (char c : charset) {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
    charset = quoted + "\"";
  }
  return parts.media_type + parts.other_params + "; charset=" + charset;
}

std::string EncodeBodyText(std::string_view utf8_text, std::string_view content_type) {
  const std::string upper = util::AsciiUpper(content_type);
  if (upper.find("CHARSET") != std::string::npos && upper.find("UTF-8") != std::string::npos) {
    return std::string(utf8_text);
  }
  return util::Utf8ToAnsi(utf8_text);
}

std::string DecodeText(std::string_view bytes, std::string_view charset) {
  if (!charset.empty()) {
    if (util::AsciiIEquals(charset, "utf-8") || util::AsciiIEquals(charset, "utf8")) {
      return util::SanitisedUtf8(bytes);
    }
    try {
      return util::CodePageToUtf8(bytes, charset);
    } catch (...) {
      // An unknown character set: read as if none were named.
    }
  }
  if (util::IsValidUtf8(bytes)) return std::string(bytes);
  return util::CodePageToUtf8(bytes, "ISO-8859-1");
}

}  // namespace orv::host
