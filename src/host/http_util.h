// Text helpers of the HTTP layer: percent and form decoding, Base64, HTTP dates, decimal
// numbers, Content-Type parameters and the body text conversion.
//
// Thread safety: pure functions (EncodeBodyText reads the regional settings); any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "util/datetime.h"

namespace orv::host {

// %XX escapes decoded to bytes; with plus_as_space, "+" becomes a space. A "%" not followed by
// two hexadecimal digits is kept as it is. Invalid UTF-8 in the result becomes U+FFFD.
std::string PercentDecode(std::string_view text, bool plus_as_space);
// The same without the UTF-8 check: the decoded bytes as they are.
std::string PercentDecodeBytes(std::string_view text, bool plus_as_space);

// Base64 (standard alphabet, padding optional). Returns false on a character outside it.
bool Base64Decode(std::string_view text, std::string& out);

// Decimal integer without sign or spaces around; -1 when empty, invalid or too large.
std::int64_t ParseDecimal(std::string_view text);

// HTTP dates (RFC 1123, RFC 850 and asctime forms) as a date-time in GMT; -1 when invalid.
util::TDateTime ParseHttpDate(std::string_view text);
// RFC 1123 form, "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatHttpDate(util::TDateTime value);

// The parts of a Content-Type value: media type (as given, trimmed) and parameters in order,
// each name=value with surrounding quotes of the value removed.
struct ContentTypeParts {
  std::string media_type;
  std::string charset;   // value of a charset parameter, quotes removed; empty when none
  bool has_charset = false;
  std::string other_params;   // "; name=value" for each other parameter, in order
};
ContentTypeParts SplitContentType(std::string_view value);

// The Content-Type header value the response declares: media type, "; charset=" and the
// character set given, or, when none is given and the media type is text: "us-ascii" for XML
// text types, "ISO-8859-1" for the others. A non-text type without charset stays as given.
std::string RenderContentType(std::string_view content_type);

// Body text (UTF-8) as the bytes sent: unchanged when the upper-cased content type contains
// both "CHARSET" and "UTF-8", else converted to the host's ANSI code page.
std::string EncodeBodyText(std::string_view utf8_text, std::string_view content_type);

// Request text in a named character set decoded to UTF-8. With no character set named, valid
// UTF-8 is kept and anything else is read as ISO-8859-1.
std::string DecodeText(std::string_view bytes, std::string_view charset);

}  // namespace orv::host
