// Conversion of SOAP parameter and result values between their wire text and the value types
// of the interface registry: 32-bit signed integers (decimal or hexadecimal), 32-bit floats
// ("." as decimal separator whatever the regional settings; NaN and INF), Booleans.
//
// Thread safety: pure functions, any thread.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orv::soap {

// An error that becomes a call-level SOAP fault with its own fault code.
class SoapFault : public std::runtime_error {
 public:
  explicit SoapFault(const std::string& message, std::string fault_code = "SOAP-ENV:Server")
      : std::runtime_error(message), fault_code_(std::move(fault_code)) {}
  const std::string& fault_code() const { return fault_code_; }

 private:
  std::string fault_code_;
};

// Surrounding characters with codes 0 to 32 are removed; then an optional "+" or "-" and either
// decimal digits (within the 32-bit signed range) or "$", "x", "X", "0x", "0X" and up to eight
// significant hexadecimal digits (read as the 32-bit pattern, so "$FFFFFFFF" is -1).
// Throws SoapFault "''%s'' is not a valid integer value" with the trimmed text.
std::int32_t ParseInt32(std::string_view text);

// Surrounding characters with codes 0 to 32 are removed; "NaN", "INF", "-INF" in any case, or
// an optional sign, digits with an optional "." and fraction, an optional exponent; rounded to
// the nearest single-precision value (values too small for it become zero).
// Throws SoapFault "'%s' is not a valid floating point value", or
// "'%s' is out of the range of a 32-bit floating point value" for magnitudes beyond it.
float ParseFloat32(std::string_view text);

// "1" or "true" in any letter case.
bool IsTrueFlag(std::string_view text);

// Wire forms of results: "true"/"false"; decimal integer; shortest round-trip float with "."
// ("NaN", "INF", "-INF").
std::string FormatBoolean(bool value);
std::string FormatInt32(std::int32_t value);
std::string FormatFloat32(float value);

}  // namespace orv::soap
