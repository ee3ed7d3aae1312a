#include "data/sql_text.h"

#include <gtest/gtest.h>

namespace orv::data {
namespace {

struct PositionalCase {
  const char* sql;
  const char* text;
  std::vector<std::string> names;
};

TEST(ToPositional, ReplacesNamesOutsideLiteralsAndComments) {
  const PositionalCase cases[] = {
      {"SELECT * FROM T WHERE A = :A", "SELECT * FROM T WHERE A = ?", {"A"}},
      {"VALUES (:COD_PESQUISA, :cod_loja,:X1)", "VALUES (?, ?,?)", {"COD_PESQUISA", "cod_loja", "X1"}},
      {"WHERE H = '10:30' AND N = :N", "WHERE H = '10:30' AND N = ?", {"N"}},
      {"WHERE S = 'it''s :z' AND N = :N", "WHERE S = 'it''s :z' AND N = ?", {"N"}},
      {"SELECT \":Q\" FROM T", "SELECT \":Q\" FROM T", {}},
      {"A = :A -- :B\r\nAND C = :C", "A = ? -- :B\r\nAND C = ?", {"A", "C"}},
      {"A = /* :B ' */ :A", "A = /* :B ' */ ?", {"A"}},
      {"A = :A OR B = :A", "A = ? OR B = ?", {"A", "A"}},
      {"A : B :", "A : B :", {}},
      {"X = 'unterminated :A", "X = 'unterminated :A", {}},
  };
  for (const auto& c : cases) {
    const PositionalSql p = ToPositional(c.sql);
    EXPECT_EQ(p.text, c.text) << c.sql;
    EXPECT_EQ(p.names, c.names) << c.sql;
  }
}

TEST(SplitSqlScript, SplitsAtSemicolonsOutsideLiteralsAndDropsComments) {
  const std::string script =
      "-- heading; with a semicolon\n"
      "CREATE TABLE A (X VARCHAR(5));\n"
      "INSERT INTO A VALUES ('a;b'); /* c; d */ INSERT INTO A VALUES ('it''s');\n"
      " ;; \n"
      "UPDATE A SET X = 'x' -- trailing\n";
  const std::vector<std::string> expected = {
      "CREATE TABLE A (X VARCHAR(5))",
      "INSERT INTO A VALUES ('a;b')",
      "INSERT INTO A VALUES ('it''s')",
      "UPDATE A SET X = 'x'",
  };
  EXPECT_EQ(SplitSqlScript(script), expected);
  EXPECT_TRUE(SplitSqlScript("  \n-- only a comment\n").empty());
}

}  // namespace
}  // namespace orv::data
