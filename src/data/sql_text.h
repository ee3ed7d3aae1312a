// Text work on SQL before it reaches the database: named parameters (":NAME") turned into
// positional markers, and SQL scripts split into statements.
//
// Thread safety: pure functions, any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orv::data {

struct PositionalSql {
  std::string text;                 // the SQL with every named parameter replaced by "?"
  std::vector<std::string> names;   // the parameter names in order of appearance (repeats kept)
};

// Replaces ":NAME" (letters, digits, "_" and "$") by "?" outside string literals ('...'),
// quoted identifiers ("..."), line comments (-- ...) and block comments (/* ... */).
// A colon not followed by a name character is left alone.
PositionalSql ToPositional(std::string_view sql);

// Splits a script at ";" outside literals, quoted identifiers and comments. Each statement is
// trimmed of blanks and control characters and has its comments removed; empty statements
// are dropped. "SET TERM" is not supported (the scripts here have no procedures).
std::vector<std::string> SplitSqlScript(std::string_view script);

}  // namespace orv::data
