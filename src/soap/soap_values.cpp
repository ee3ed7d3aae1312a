#include "soap/soap_values.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "util/text.h"

namespace orv::soap {

namespace {

[[noreturn]] void BadInteger(std::string_view trimmed) {
  throw SoapFault("''" + std::string(trimmed) + "'' is not a valid integer value");
}

[[noreturn]] void BadFloat(std::string_view trimmed) {
  throw SoapFault("'" + std::string(trimmed) + "' is not a valid floating point value");
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Rough decimal magnitude of a syntactically valid number (no sign): > 0 means at least 10^1.
// Used only to tell overflow from underflow when even a double cannot hold the value.
long long DecimalMagnitude(std::string_view s) {
  std::size_t i = 0;
  long long lead = 0;
  bool nonzero_seen = false;
  while (i < s.size() && IsDigit(s[i])) {
    if (s[i] != '0') nonzero_seen = true;
    if (nonzero_seen) ++lead;
    ++i;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i]) && !nonzero_seen) {
      if (s[i] != '0') {
        nonzero_seen = true;
      } else {
        --lead;
      }
      ++i;
    }
    while (i < s.size() && IsDigit(s[i])) ++i;
  }
  long long exp = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    for (; i < s.size(); ++i) {
      if (exp < 1'000'000'000) exp = exp * 10 + (s[i] - '0');
    }
    if (neg) exp = -exp;
  }
  return exp + lead;
}

// Checks the decimal form: digits with an optional "." and fraction (at least one digit in
// all), an optional exponent with an optional sign and at least one digit.
bool IsDecimalNumber(std::string_view s) {
  std::size_t i = 0;
  std::size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == s.size();
}

}  // namespace

std::int32_t ParseInt32(std::string_view text) {
  const std::string trimmed = util::TrimControl(text);
  std::string_view s = trimmed;
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) BadInteger(trimmed);

  bool hex = false;
  if (s.front() == '$' || s.front() == 'x' || s.front() == 'X') {
    hex = true;
    s.remove_prefix(1);
  } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    hex = true;
    s.remove_prefix(2);
  }
  if (s.empty()) BadInteger(trimmed);

  if (hex) {
    std::uint64_t v = 0;
    for (char c : s) {
      const int d = util::HexDigitValue(c);
      if (d < 0) BadInteger(trimmed);
      v = v * 16 + static_cast<std::uint64_t>(d);
      if (v > 0xFFFFFFFFull) BadInteger(trimmed);
    }
    auto pattern = static_cast<std::uint32_t>(v);
    if (negative) pattern = 0u - pattern;
    return static_cast<std::int32_t>(pattern);
  }

  std::uint64_t v = 0;
  for (char c : s) {
    if (!IsDigit(c)) BadInteger(trimmed);
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (v > 0x80000000ull) BadInteger(trimmed);
  }
  if (negative) return static_cast<std::int32_t>(-static_cast<std::int64_t>(v));
  if (v > 0x7FFFFFFFull) BadInteger(trimmed);
  return static_cast<std::int32_t>(v);
}

float ParseFloat32(std::string_view text) {
  const std::string trimmed = util::TrimControl(text);
  std::string_view s = trimmed;
  if (util::AsciiIEquals(s, "NaN")) return std::numeric_limits<float>::quiet_NaN();
  if (util::AsciiIEquals(s, "INF")) return std::numeric_limits<float>::infinity();
  if (util::AsciiIEquals(s, "-INF")) return -std::numeric_limits<float>::infinity();

  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (!IsDecimalNumber(s)) BadFloat(trimmed);

  const char* first = s.data();
  const char* last = s.data() + s.size();
  float f = 0;
  auto r = std::from_chars(first, last, f);
  if (r.ec == std::errc() && r.ptr == last) return negative ? -f : f;
  if (r.ec != std::errc::result_out_of_range) BadFloat(trimmed);

  // Out of single-precision range: overflow is refused, underflow goes towards zero.
  double d = 0;
  auto rd = std::from_chars(first, last, d);
  bool overflow;
  if (rd.ec == std::errc()) {
    overflow = d > static_cast<double>(std::numeric_limits<float>::max());
    f = static_cast<float>(d);
  } else {
    overflow = DecimalMagnitude(s) > 0;
    f = 0.0f;
  }
  if (overflow) {
    throw SoapFault("'" + trimmed + "' is out of the range of a 32-bit floating point value");
  }
  return negative ? -f : f;
}

bool IsTrueFlag(std::string_view text) {
  return text == "1" || util::AsciiIEquals(text, "true");
}

std::string FormatBoolean(bool value) { return value ? "true" : "false"; }

std::string FormatInt32(std::int32_t value) { return std::to_string(value); }

std::string FormatFloat32(float value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

}  // namespace orv::soap
