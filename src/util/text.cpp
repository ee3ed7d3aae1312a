// UTF-8/UTF-16 handling, ASCII case folding and code-page conversions. Windows-1252 and
// ISO-8859-1 are converted by our own tables; any other code page goes through iconv
// (MultiByteToWideChar on Windows).
#include "util/text.h"

#include <array>
#include <cerrno>
#include <stdexcept>

#include "util/regional.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace orv::util {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the code point at s[i] and advances i. An ill-formed sequence yields
// kReplacement and i moves past its maximal well-formed prefix (at least one byte).
char32_t DecodeNext(std::string_view s, std::size_t& i, bool* valid = nullptr) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  if (valid) *valid = true;
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    ++i;
    if (valid) *valid = false;
    return kReplacement;
  }
  std::size_t k = i + 1;
  for (int n = 0; n < need; ++n, ++k) {
    if (k >= s.size() || byte(k) < lo || byte(k) > hi) {
      i = k;
      if (valid) *valid = false;
      return kReplacement;
    }
    cp = (cp << 6) | (byte(k) & 0x3F);
    lo = 0x80;
    hi = 0xBF;
  }
  i = k;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::size_t UnitsOf(char32_t cp) { return cp >= 0x10000 ? 2 : 1; }

// Windows-1252 bytes 0x80-0x9F; the five undefined bytes keep their C1 code.
constexpr std::array<char16_t, 32> kWin1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t Win1252Decode(unsigned char b) {
  return (b >= 0x80 && b <= 0x9F) ? kWin1252High[b - 0x80] : b;
}

int Win1252Encode(char32_t cp) {   // -1 when the page lacks the character
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (std::size_t k = 0; k < kWin1252High.size(); ++k)
    if (kWin1252High[k] == cp) return static_cast<int>(0x80 + k);
  return -1;
}

enum class Page { kUtf8, kWin1252, kLatin1, kOther };

Page Classify(std::string_view name) {
  const std::string n = AsciiUpper(name);
  if (n == "UTF-8" || n == "UTF8") return Page::kUtf8;
  if (n == "WINDOWS-1252" || n == "WINDOWS1252" || n == "CP1252" || n == "WIN1252" ||
      n == "1252")
    return Page::kWin1252;
  if (n == "ISO-8859-1" || n == "ISO8859-1" || n == "ISO_8859-1" || n == "LATIN1" ||
      n == "LATIN-1" || n == "L1" || n == "CP28591")
    return Page::kLatin1;
  return Page::kOther;
}

[[noreturn]] void UnknownPage(std::string_view name) {
  throw std::invalid_argument("Página de código desconhecida: \"" + std::string(name) + "\"");
}

#ifdef _WIN32

UINT WindowsPage(std::string_view name) {
  std::string n = AsciiUpper(name);
  for (const char* prefix : {"WINDOWS-", "CP", "IBM"})
    if (n.rfind(prefix, 0) == 0) {
      n = n.substr(std::char_traits<char>::length(prefix));
      break;
    }
  if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos) UnknownPage(name);
  const UINT page = static_cast<UINT>(std::stoul(n));
  CPINFO info;
  if (!GetCPInfo(page, &info)) UnknownPage(name);
  return page;
}

std::string OtherFromUtf8(std::string_view utf8, std::string_view name) {
  const UINT page = WindowsPage(name);
  const std::u16string wide = Utf8ToUtf16(utf8);
  if (wide.empty()) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(wide.data());
  const int n = WideCharToMultiByte(page, 0, w, static_cast<int>(wide.size()), nullptr, 0, "?",
                                    nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(page, 0, w, static_cast<int>(wide.size()), out.data(), n, "?", nullptr);
  return out;
}

std::string OtherToUtf8(std::string_view bytes, std::string_view name) {
  const UINT page = WindowsPage(name);
  if (bytes.empty()) return {};
  const int n =
      MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

bool OtherIsSingleByte(std::string_view name) {
  CPINFO info;
  if (!GetCPInfo(WindowsPage(name), &info)) UnknownPage(name);
  return info.MaxCharSize == 1;
}

#else

class Iconv {
 public:
  // page_name: the name reported when iconv does not know the page.
  Iconv(std::string_view to, std::string_view from, std::string_view page_name)
      : cd_(iconv_open(std::string(to).c_str(), std::string(from).c_str())) {
    if (!ok()) UnknownPage(page_name);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // One step: converts as much as possible; returns errno (0 when all input was taken).
  int Step(const char*& in, std::size_t& in_left, std::string& out) {
    char buffer[4096];
    while (in_left > 0) {
      char* dst = buffer;
      std::size_t dst_left = sizeof buffer;
      char* src = const_cast<char*>(in);
      const std::size_t r = iconv(cd_, &src, &in_left, &dst, &dst_left);
      const int err = r == static_cast<std::size_t>(-1) ? errno : 0;
      in = src;
      out.append(buffer, sizeof buffer - dst_left);
      if (err != 0 && err != E2BIG) return err;
    }
    return 0;
  }
  void Flush(std::string& out) {
    char buffer[64];
    char* dst = buffer;
    std::size_t dst_left = sizeof buffer;
    iconv(cd_, nullptr, nullptr, &dst, &dst_left);
    out.append(buffer, sizeof buffer - dst_left);
  }

 private:
  iconv_t cd_;
};

std::string OtherFromUtf8(std::string_view utf8, std::string_view name) {
  Iconv cd(name, "UTF-8", name);
  const std::string clean = SanitisedUtf8(utf8);
  const char* in = clean.data();
  std::size_t left = clean.size();
  std::string out;
  while (left > 0) {
    if (cd.Step(in, left, out) == 0) break;
    // A character the page lacks: '?', then go on after it.
    out += '?';
    std::size_t pos = static_cast<std::size_t>(in - clean.data());
    DecodeNext(clean, pos);
    left -= pos - static_cast<std::size_t>(in - clean.data());
    in = clean.data() + pos;
  }
  cd.Flush(out);
  return out;
}

std::string OtherToUtf8(std::string_view bytes, std::string_view name) {
  Iconv cd("UTF-8", name, name);
  const char* in = bytes.data();
  std::size_t left = bytes.size();
  std::string out;
  while (left > 0) {
    const int err = cd.Step(in, left, out);
    if (err == 0) break;
    AppendUtf8(out, kReplacement);
    if (err == EINVAL) break;   // incomplete sequence at the end
    ++in;
    --left;
  }
  return out;
}

bool OtherIsSingleByte(std::string_view name) {
  Iconv cd("UTF-8", name, name);
  for (int b = 1; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const char* in = &c;
    std::size_t left = 1;
    std::string out;
    if (cd.Step(in, left, out) == EINVAL) return false;
    cd.Flush(out);
  }
  return true;
}

#endif

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = DecodeNext(utf8, i);
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t u = utf16[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    bool valid;
    DecodeNext(bytes, i, &valid);
    if (!valid) return false;
  }
  return true;
}

std::string SanitisedUtf8(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : Utf16ToUtf8(Utf8ToUtf16(bytes));
}

std::size_t Utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < utf8.size();) units += UnitsOf(DecodeNext(utf8, i));
  return units;
}

std::string Utf16Left(std::string_view utf8, std::size_t units) {
  std::string out;
  std::size_t taken = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t start = i;
    bool valid;
    const char32_t cp = DecodeNext(utf8, i, &valid);
    if (taken + UnitsOf(cp) > units) break;
    taken += UnitsOf(cp);
    if (valid)
      out.append(utf8.substr(start, i - start));
    else
      AppendUtf8(out, kReplacement);
  }
  return out;
}

std::string Utf16Right(std::string_view utf8, std::size_t units) {
  const std::size_t total = Utf16Length(utf8);
  if (units >= total) return SanitisedUtf8(utf8);
  const std::size_t skip = total - units;
  std::size_t skipped = 0;
  std::size_t i = 0;
  while (i < utf8.size() && skipped < skip) skipped += UnitsOf(DecodeNext(utf8, i));
  return SanitisedUtf8(utf8.substr(i));
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool AsciiIEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

bool AsciiIStartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && AsciiIEquals(s.substr(0, prefix.size()), prefix);
}

bool AsciiIContains(std::string_view haystack, std::string_view needle) {
  return AsciiLower(haystack).find(AsciiLower(needle)) != std::string::npos;
}

std::string EscapeControls(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 || c == 0x7F) {
      switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
      }
      continue;
    }
    // U+0080..U+009F (C2 80..C2 9F) and U+2028, U+2029 (E2 80 A8, E2 80 A9).
    const auto next = [&](std::size_t k) {
      return i + k < utf8.size() ? static_cast<unsigned char>(utf8[i + k]) : 0u;
    };
    unsigned code = 0;
    std::size_t length = 0;
    if (c == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) {
      code = next(1);
      length = 2;
    } else if (c == 0xE2 && next(1) == 0x80 && (next(2) == 0xA8 || next(2) == 0xA9)) {
      code = 0x2000 + (next(2) - 0x80);
      length = 3;
    }
    if (length == 0) {
      out += static_cast<char>(c);
      continue;
    }
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
    i += length - 1;
  }
  return out;
}

std::string TrimControl(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return std::string(s.substr(b, e - b));
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string_view NextLine(std::string_view text, std::size_t& pos) {
  std::size_t end = text.find('\n', pos);
  if (end == std::string_view::npos) end = text.size();
  std::string_view line = text.substr(pos, end - pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  pos = end + 1;
  return line;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unquote(std::string_view s) {
  s = TrimBlanks(s);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
    std::string out;
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
      if (s[i] == '\\' && i + 2 < s.size()) ++i;
      out += s[i];
    }
    return out;
  }
  return std::string(s);
}

std::string Utf8ToWin1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const int b = Win1252Encode(DecodeNext(utf8, i));
    out += b < 0 ? '?' : static_cast<char>(b);
  }
  return out;
}

std::string Win1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) AppendUtf8(out, Win1252Decode(static_cast<unsigned char>(c)));
  return out;
}

namespace {

// ISO-8859-1 is the first 256 code points; the rest becomes '?'.
std::string Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = DecodeNext(utf8, i);
    out += cp <= 0xFF ? static_cast<char>(cp) : '?';
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

// The two directions of each code page the text layer converts itself; any other goes
// through the system's converter.
struct Conversions {
  std::string (*from_utf8)(std::string_view);
  std::string (*to_utf8)(std::string_view);
};

const Conversions* OwnConversions(std::string_view code_page) {
  static constexpr Conversions kUtf8{SanitisedUtf8, SanitisedUtf8};
  static constexpr Conversions kWin1252{Utf8ToWin1252, Win1252ToUtf8};
  static constexpr Conversions kLatin1{Utf8ToLatin1, Latin1ToUtf8};
  switch (Classify(code_page)) {
    case Page::kUtf8: return &kUtf8;
    case Page::kWin1252: return &kWin1252;
    case Page::kLatin1: return &kLatin1;
    case Page::kOther: break;
  }
  return nullptr;
}

}  // namespace

std::string Utf8ToCodePage(std::string_view utf8, std::string_view code_page) {
  if (const Conversions* c = OwnConversions(code_page)) return c->from_utf8(utf8);
  return OtherFromUtf8(utf8, code_page);
}

std::string CodePageToUtf8(std::string_view bytes, std::string_view code_page) {
  if (const Conversions* c = OwnConversions(code_page)) return c->to_utf8(bytes);
  return OtherToUtf8(bytes, code_page);
}

bool IsSingleByteCodePage(std::string_view code_page) {
  switch (Classify(code_page)) {
    case Page::kUtf8: return false;
    case Page::kWin1252:
    case Page::kLatin1: return true;
    case Page::kOther: break;
  }
  return OtherIsSingleByte(code_page);
}

std::string Utf8ToAnsi(std::string_view utf8) {
  return Utf8ToCodePage(utf8, Regional().ansi_code_page);
}

std::string AnsiToUtf8(std::string_view bytes) {
  return CodePageToUtf8(bytes, Regional().ansi_code_page);
}

std::string ThroughAnsi(std::string_view utf8) {
  const std::string page = Regional().ansi_code_page;
  return CodePageToUtf8(Utf8ToCodePage(utf8, page), page);
}

}  // namespace orv::util
