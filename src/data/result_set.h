// Result sets of the SQL client layer: every row of a statement read into memory before its
// commit. Cells are compact (16 bytes) and the bytes of all text cells share one buffer, so a
// large download costs little more than its text. The SQL client layer's own header.
//
// Thread safety: a result set belongs to the query that read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/text.h"

namespace soci {
class row;
class statement;
}  // namespace soci

namespace orv::data {

enum class CellKind : std::uint8_t { kNull, kText, kInteger, kFloat, kDate };

struct Cell {
  CellKind kind = CellKind::kNull;
  std::uint32_t length = 0;  // bytes of a text cell
  union {
    std::int64_t integer;
    double real;  // kFloat, and kDate as a TDateTime
    std::uint64_t offset;  // start of a text cell in ResultSet::text
  } v{0};
};

struct ResultSet {
  std::vector<std::string> columns;
  std::vector<Cell> cells;  // row-major
  std::string text;
  std::size_t rows = 0;

  int ColumnIndex(std::string_view name) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (util::AsciiIEquals(columns[i], name)) return static_cast<int>(i);
    return -1;
  }
  const Cell& At(std::size_t row, int column) const {
    return cells[row * columns.size() + static_cast<std::size_t>(column)];
  }
  std::string_view Text(const Cell& c) const {
    return std::string_view(text).substr(static_cast<std::size_t>(c.v.offset), c.length);
  }
};

// Reads every row of an executed statement into `result` (got: whether execute brought the
// first one); `win1252`: the client's text is Windows-1252 (Firebird), else UTF-8.
void ReadRows(ResultSet& result, soci::statement& st, const soci::row& row, bool got,
              bool win1252);

}  // namespace orv::data
