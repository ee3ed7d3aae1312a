// TArqIni: the settings file in the usual initialisation-file text form ("[Section]" lines,
// then "Key=Value" lines). Every read looks at the file as it is on disk, every write rewrites
// the file at once, atomically (Env::WriteFileAtomic: a failed write keeps the old file and
// raises); a missing or unreadable file or a missing key reads as the default, and the file is created by the first
// write only. Section and key names compare without regard to ASCII letter case; lines
// that are not ours (comments, other sections and keys) are kept as they are.
//
// Read rules: an integer is decimal, or hexadecimal after "0x"; a value that is not a number
// gives the default; a boolean is true when its number is not 0 and is written as "1" or "0".
//
// Thread safety: one object belongs to one thread (the window's or the daemon's main thread).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "util/env.h"

namespace orv::startup {

// Raised when the file cannot be written: "Unable to write to <path>".
class TArqIniError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The integer that `text` holds by the read rules above, or nothing.
std::optional<std::int32_t> InteiroDoIni(std::string_view text);

class TArqIni {
 public:
  // The file is read and written through `env`, which must outlive this object.
  explicit TArqIni(std::string caminho, util::Env& env = util::Env::Default());

  const std::string& FileName() const { return caminho_; }

  // The value of the key, or nothing when the file, the section or the key is absent.
  std::optional<std::string> ReadValue(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;
  std::int32_t ReadInteger(std::string_view section, std::string_view key,
                           std::int32_t default_value) const;
  bool ReadBool(std::string_view section, std::string_view key, bool default_value) const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);

 private:
  std::string Conteudo() const;

  std::string caminho_;
  util::Env* env_;
};

}  // namespace orv::startup
