#include "data/result_set.h"

#include <soci/soci.h>

#include <ctime>
#include <limits>

#include "data/sql.h"
#include "util/datetime.h"

namespace orv::data {

namespace {

util::TDateTime FromTm(const std::tm& t) {
  util::DateTimeParts p;
  p.hour = t.tm_hour;
  p.minute = t.tm_min;
  p.second = t.tm_sec;
  // A TIME column arrives with no date (day 0): it is a time of day on the zero date.
  if (t.tm_mday >= 1 && t.tm_mon >= 0 && t.tm_mon <= 11) {
    p.year = t.tm_year + 1900;
    p.month = t.tm_mon + 1;
    p.day = t.tm_mday;
  }
  return util::EncodeDateTime(p);
}

void AppendRow(ResultSet& rs, const soci::row& row, const std::vector<soci::data_type>& types,
               bool win1252) {
  for (std::size_t i = 0; i < types.size(); ++i) {
    Cell c;
    const auto integer = [&c](std::int64_t value) {
      c.kind = CellKind::kInteger;
      c.v.integer = value;
    };
    const auto real = [&c](CellKind kind, double value) {
      c.kind = kind;
      c.v.real = value;
    };
    if (row.get_indicator(i) != soci::i_null) {
      switch (types[i]) {
        case soci::dt_string:
        case soci::dt_xml: {
          const std::string& raw = row.get<std::string>(i);
          std::string utf8 = win1252 ? util::Win1252ToUtf8(raw) : raw;
          c.kind = CellKind::kText;
          c.length = static_cast<std::uint32_t>(utf8.size());
          c.v.offset = rs.text.size();
          rs.text += utf8;
          break;
        }
        case soci::dt_integer:
          integer(row.get<int>(i));
          break;
        case soci::dt_long_long:
          integer(row.get<long long>(i));
          break;
        case soci::dt_unsigned_long_long: {
          const unsigned long long u = row.get<unsigned long long>(i);
          constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
          integer(u > static_cast<unsigned long long>(kMax) ? kMax : static_cast<std::int64_t>(u));
          break;
        }
        case soci::dt_double:
          real(CellKind::kFloat, row.get<double>(i));
          break;
        case soci::dt_date:
          real(CellKind::kDate, FromTm(row.get<std::tm>(i)));
          break;
        default:
          throw SqlError("Column " + rs.columns[i] + " has a type this client cannot read");
      }
    }
    rs.cells.push_back(c);
  }
  ++rs.rows;
}

}  // namespace

void ReadRows(ResultSet& result, soci::statement& st, const soci::row& row, bool got,
              bool win1252) {
  std::vector<soci::data_type> types;
  if (got || row.size() > 0) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      const soci::column_properties& p = row.get_properties(i);
      result.columns.push_back(win1252 ? util::Win1252ToUtf8(p.get_name()) : p.get_name());
      types.push_back(p.get_data_type());
    }
  }
  while (got) {
    AppendRow(result, row, types, win1252);
    got = st.fetch();
  }
}

}  // namespace orv::data
