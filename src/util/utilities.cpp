// The shared free functions.
#include "util/utilities.h"

#include "util/regional.h"
#include "util/text.h"

namespace orv::util {

std::string FormatarTamanho(std::int64_t bytes) {
  constexpr std::int64_t kKB = 1024;
  constexpr std::int64_t kMB = kKB * 1024;
  constexpr std::int64_t kGB = kMB * 1024;
  if (bytes < kKB) return std::to_string(bytes) + " B";
  const std::int64_t unit = bytes < kMB ? kKB : bytes < kGB ? kMB : kGB;
  const char* name = bytes < kMB ? " KB" : bytes < kGB ? " MB" : " GB";
  // "#.##": at most two decimals, rounded half away from zero, in exact integer arithmetic.
  std::int64_t whole = bytes / unit;
  std::int64_t hundredths = ((bytes % unit) * 200 + unit) / (2 * unit);
  if (hundredths == 100) {
    ++whole;
    hundredths = 0;
  }
  std::string text = std::to_string(whole);
  if (hundredths != 0) {
    std::string decimals = {static_cast<char>('0' + hundredths / 10),
                            static_cast<char>('0' + hundredths % 10)};
    if (decimals[1] == '0') decimals.pop_back();
    text += Regional().decimal_separator + decimals;
  }
  return text + name;
}

std::string CompletarTexto(std::string_view text, int length, std::string_view filler, char side) {
  const bool right_align = side == 'L' || side == 'E';
  std::string result = TrimControl(text);
  const std::size_t width = length > 0 ? static_cast<std::size_t>(length) : 0;
  std::size_t units = Utf16Length(result);
  if (!filler.empty() && units < width) {
    const std::size_t filler_units = Utf16Length(filler);
    std::string pad;
    while (units < width) {
      pad += filler;
      units += filler_units;
    }
    result = right_align ? pad + result : result + pad;
  }
  if (units > width) result = right_align ? Utf16Right(result, width) : Utf16Left(result, width);
  return result;
}

std::vector<std::string> QuebrarTexto(std::string_view text, std::string_view delimiter) {
  std::vector<std::string> items;
  if (!delimiter.empty()) {
    for (std::size_t at; (at = text.find(delimiter)) != std::string_view::npos;) {
      items.emplace_back(text.substr(0, at));
      text.remove_prefix(at + delimiter.size());
    }
  }
  items.emplace_back(text);
  return items;
}

std::string XorTexto(std::string_view text, std::uint16_t key) {
  const char16_t key_byte = static_cast<char16_t>((key >> 8) & 0xFF);
  if (key_byte == 0) return std::string(text);
  std::u16string units = Utf8ToUtf16(text);
  for (char16_t& c : units) c = static_cast<char16_t>((c & 0xFF) ^ key_byte);
  return Utf16ToUtf8(units);
}

std::string CifrarTexto(std::string_view text) {
  constexpr std::uint16_t kChaveCifra = 917;   // the fixed key of the stored fields
  return XorTexto(text, kChaveCifra);
}

}  // namespace orv::util
