// Text helpers shared by every subsystem.
//
// Text is UTF-8 std::string in memory. Where the system counts characters or works on
// character codes (field widths, scrambling, padding) it counts UTF-16 code units, through
// the helpers below. Code-page conversions (the host's "ANSI" code page, Firebird's WIN1252)
// also live here.
//
// Thread safety: every function is pure (the ANSI helpers read the current regional settings,
// see regional.h) and may be called from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv::util {

// UTF-8 <-> UTF-16. Invalid UTF-8 sequences and lone surrogates become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// True when every byte sequence of `bytes` is well-formed UTF-8 (no overlongs, no surrogates).
bool IsValidUtf8(std::string_view bytes);
// The bytes as UTF-8 text: unchanged when valid, else with every invalid sequence as U+FFFD.
std::string SanitisedUtf8(std::string_view bytes);

// Number of UTF-16 code units of a UTF-8 text.
std::size_t Utf16Length(std::string_view utf8);
// The first `units` UTF-16 code units of a UTF-8 text (never splits a surrogate pair:
// a pair that would be cut is dropped whole).
std::string Utf16Left(std::string_view utf8, std::size_t units);
// The last `units` UTF-16 code units of a UTF-8 text (same rule for pairs).
std::string Utf16Right(std::string_view utf8, std::size_t units);

// ASCII-only case folding (A-Z / a-z); every other byte is unchanged.
std::string AsciiUpper(std::string_view s);
std::string AsciiLower(std::string_view s);
bool AsciiIEquals(std::string_view a, std::string_view b);
bool AsciiIStartsWith(std::string_view s, std::string_view prefix);
bool AsciiIContains(std::string_view haystack, std::string_view needle);

// The text with every control character in a visible form, so that it stays on one line
// whatever it holds: CR, LF and tab as \r, \n and \t, the other C0 controls and DEL as \xHH,
// the C1 controls and the Unicode line and paragraph separators as \uHHHH (hexadecimal in
// capitals). Everything else, a backslash included, is unchanged.
std::string EscapeControls(std::string_view utf8);

// Removes every character whose code is 32 or less from both ends.
std::string TrimControl(std::string_view s);
// The text without the spaces and tabs at both ends (the blanks of HTTP, MIME and INI lines).
std::string_view TrimBlanks(std::string_view s);
// The value of a hexadecimal digit (either case), -1 for any other character.
int HexDigitValue(char c);

// The line that starts at `pos`, without its LF or CR LF; `pos` moves past the line and its
// end (to text.size() + 1 after a last line without one). Call while pos < text.size().
std::string_view NextLine(std::string_view text, std::size_t& pos);
// A quoted string ("...", a backslash taking the next character as it is) as its text; any
// other value as it is. Blanks around the value are left out either way.
std::string Unquote(std::string_view s);

// Windows-1252 <-> UTF-8 (the character set of the management databases). A character that
// Windows-1252 cannot hold becomes '?'. The five bytes that Windows-1252 leaves undefined
// (0x81 0x8D 0x8F 0x90 0x9D) map to the C1 controls of the same code.
std::string Utf8ToWin1252(std::string_view utf8);
std::string Win1252ToUtf8(std::string_view bytes);

// Conversions to and from the host's ANSI code page (RegionalSettings::ansi_code_page).
// With a UTF-8 code page they are the identity on valid text (invalid bytes become U+FFFD on
// the way in). A character that an 8-bit code page cannot hold becomes '?'.
std::string Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view bytes);
// The same with an explicit code page name ("UTF-8", "WINDOWS-1252", "ISO-8859-1", or any
// name iconv knows). An unknown code page name raises std::invalid_argument. Bytes that the
// code page does not define become U+FFFD on the way in.
std::string Utf8ToCodePage(std::string_view utf8, std::string_view code_page);
std::string CodePageToUtf8(std::string_view bytes, std::string_view code_page);

// True when every character of the code page is one byte ("WINDOWS-1252", "ISO-8859-1", ...);
// false for UTF-8 and the multi-byte pages. Throws std::invalid_argument for an unknown name.
bool IsSingleByteCodePage(std::string_view code_page);

// The text as it survives a round trip through the ANSI code page: what a field of
// "8-bit text in the host's code page" holds after storing `utf8`.
std::string ThroughAnsi(std::string_view utf8);

}  // namespace orv::util
