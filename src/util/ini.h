// The initialisation-file text form ("[Section]" lines, then "Key=Value" lines) of the settings
// file orvws.ini (TArqIni, below) and of the publisher's port address file (soap/publish
// port_file.h): one parse over the bytes, ParseIni, with one set of rules for both.
//
// The rules:
// - A UTF-8 byte order mark at the start is skipped (editors on Windows write one).
// - Lines end at LF, with one CR before it dropped. A line, a section name, a key and a value
//   are trimmed of spaces, tabs and CRs.
// - A line whose first character is ';' or '#' is a comment; an empty one is blank.
// - "[Name]" starts the section Name (what follows the first ']' is ignored). A line that starts
//   with '[' but has no ']' starts nothing and holds no entry.
// - "Key=Value" is an entry, split at the first '='. Any other line is neither; entries before
//   the first section belong to none.
// - Section names and keys compare without regard to ASCII letter case.
//
// Where the two readers differed before they shared this parse, the rules above take what each
// of them relied on:
// - The byte order mark: the port file's reader skipped it; TArqIni took it into the first
//   line, so a settings file saved with one lost the section on that line (its values read as
//   the defaults and a write added the section again). Both skip it now; TArqIni's rewrite keeps
//   it in front.
// - '#': a comment for TArqIni; the port file's reader took "#name=address" for a port named
//   "#name". A comment for both (no port name starts with '#').
// - '[' without ']': the port file's reader took the rest of the line for a section name,
//   TArqIni for nothing (for a key when the line held '='). Nothing for both.
// - Trimming: the port file's reader trimmed CR at both ends, TArqIni only at the end. Both ends
//   for both.
// - Sections of the same name: the port file takes the first such section only (IniSection),
//   the settings file the first key among all of them (IniValue). Each keeps its own lookup.
//
// Thread safety: ParseIni and the lookups are pure functions; a TArqIni belongs to one thread
// (the window's or the daemon's main thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/env.h"

namespace orv::util {

// One line of an INI text, as views into the parsed bytes.
struct IniLine {
  enum class Kind { kBlank, kComment, kSection, kEntry, kOther };
  Kind kind = Kind::kBlank;
  std::string_view text;    // the whole line without its line end
  std::string_view name;    // kSection: the section's name; kEntry: the key
  std::string_view value;   // kEntry
};

struct IniText {
  bool bom = false;              // the bytes began with a UTF-8 byte order mark
  std::vector<IniLine> lines;    // in file order; a last line end starts no line
};

IniText ParseIni(std::string_view bytes);

// The settings file's lookup: the value of the first entry `key` in any section named
// `section`; nothing when there is none.
std::optional<std::string> IniValue(const IniText& ini, std::string_view section,
                                    std::string_view key);

// The port file's lookup: the entries (key, value) of the first section named `section`, in file
// order; nothing when the text has no such section.
using IniEntries = std::vector<std::pair<std::string, std::string>>;
std::optional<IniEntries> IniSection(const IniText& ini, std::string_view section);

// ---- TArqIni: the settings file -----------------------------------------------------------
// Every read looks at the file as it is, every write rewrites the file at once, atomically
// (Env::WriteFileAtomic: a failed write keeps the old file and raises); a missing or unreadable
// file or a missing key reads as the default, and the file is created by the first write only.
// A write keeps the lines that are not ours (comments, other sections and keys) as they are,
// and the file's line ends.
//
// Read rules: an integer is decimal, or hexadecimal after "0x"; a value that is not a number
// gives the default; a boolean is true when its number is not 0 and is written as "1" or "0".

// The settings file is a few lines; a larger file is not ours and is read no further than this
// (and never rewritten).
inline constexpr std::size_t kTamanhoMaximoIni = 64 * 1024;

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
  explicit TArqIni(std::string caminho, Env& env = Env::Default());

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
  std::string caminho_;
  Env* env_;
};

}  // namespace orv::util
