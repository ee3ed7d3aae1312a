// The shared free functions: value chooser, byte-count formatting, fixed-width filling,
// splitting at a delimiter and the character scrambling used for the configuration file's
// fields and the collector users' passwords.
//
// Text is UTF-8; "character" means one UTF-16 code unit, and lengths count code units.
// Thread safety: pure functions (FormatarTamanho reads the regional settings), any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv::util {

// The value for true when the condition holds, else the value for false.
inline std::string IfThenVar(bool condition, std::string if_true, std::string if_false) {
  return condition ? std::move(if_true) : std::move(if_false);
}

// "512 B", "1,5 KB", "1024 KB", "2 GB" (host decimal separator; at most two decimals, rounded
// half away from zero, trailing zeros dropped). Counts past 2^31 keep growing in GB.
std::string FormatarTamanho(std::int64_t bytes);

// Trims characters <= 32 from both ends, pads with `filler` up to `length` (in front for side
// "L"/"E", behind otherwise), then cuts to `length` (keeping the end for "L"/"E").
// An empty filler never pads (instead of looping forever). A cut never splits a surrogate pair
// (the pair is dropped whole, leaving one unit less).
std::string CompletarTexto(std::string_view text, int length, std::string_view filler,
                           char side);

// Splits at every occurrence of the delimiter, left to right; the text after the last
// delimiter is the last item (also when empty). An empty delimiter gives one item.
std::vector<std::string> QuebrarTexto(std::string_view text, std::string_view delimiter);

// Each UTF-16 code unit c becomes (c AND 255) XOR ((key >> 8) AND 255); a zero key byte
// returns the text unchanged.
std::string XorTexto(std::string_view text, std::uint16_t key);
// XorTexto with the fixed key 917.
std::string CifrarTexto(std::string_view text);

}  // namespace orv::util
