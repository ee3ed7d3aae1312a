#include "data/sql_text.h"
#include "util/text.h"

#include <cctype>

namespace orv::data {
namespace {

bool IsNameChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) != 0 || c == '_' || c == '$';
}

// Length of a literal, quoted identifier or comment starting at `i`, or 0 when none starts.
std::size_t SkipQuotedOrComment(std::string_view s, std::size_t i) {
  const char c = s[i];
  if (c == '\'' || c == '"') {
    std::size_t j = i + 1;
    while (j < s.size()) {
      if (s[j] == c) {
        if (j + 1 < s.size() && s[j + 1] == c) {  // doubled quote inside
          j += 2;
          continue;
        }
        return j + 1 - i;
      }
      ++j;
    }
    return s.size() - i;  // unterminated: runs to the end
  }
  if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
    const std::size_t nl = s.find('\n', i);
    return (nl == std::string_view::npos ? s.size() : nl) - i;
  }
  if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
    const std::size_t end = s.find("*/", i + 2);
    return (end == std::string_view::npos ? s.size() : end + 2) - i;
  }
  return 0;
}


}  // namespace

PositionalSql ToPositional(std::string_view sql) {
  PositionalSql out;
  out.text.reserve(sql.size());
  std::size_t i = 0;
  while (i < sql.size()) {
    if (const std::size_t skip = SkipQuotedOrComment(sql, i)) {
      out.text.append(sql.substr(i, skip));
      i += skip;
      continue;
    }
    if (sql[i] == ':' && i + 1 < sql.size() && IsNameChar(sql[i + 1])) {
      std::size_t j = i + 1;
      while (j < sql.size() && IsNameChar(sql[j])) ++j;
      out.names.emplace_back(sql.substr(i + 1, j - i - 1));
      out.text.push_back('?');
      i = j;
      continue;
    }
    out.text.push_back(sql[i]);
    ++i;
  }
  return out;
}

std::vector<std::string> SplitSqlScript(std::string_view script) {
  std::vector<std::string> statements;
  std::string current;
  std::size_t i = 0;
  auto flush = [&] {
    std::string t = util::TrimControl(current);
    if (!t.empty()) statements.push_back(std::move(t));
    current.clear();
  };
  while (i < script.size()) {
    if (const std::size_t skip = SkipQuotedOrComment(script, i)) {
      const char c = script[i];
      if (c == '\'' || c == '"') {
        current.append(script.substr(i, skip));
      } else {
        current.push_back(' ');  // a comment separates like a blank
      }
      i += skip;
      continue;
    }
    if (script[i] == ';') {
      flush();
    } else {
      current.push_back(script[i]);
    }
    ++i;
  }
  flush();
  return statements;
}

}  // namespace orv::data
