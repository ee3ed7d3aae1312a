#include "data/firebird_admin.h"

#include <ibase.h>

#include <regex>
#include <vector>

#include "data/connect_settings.h"
#include "data/sql_text.h"
#include "util/text.h"

namespace orv::data {
namespace {

std::string StatusText(const ISC_STATUS* status) {
  std::string out;
  const ISC_STATUS* p = status;
  char buf[1024];
  while (fb_interpret(buf, sizeof buf, &p) > 0) {
    if (!out.empty()) out += "\n";
    out += buf;
  }
  if (!util::IsValidUtf8(out)) out = util::Win1252ToUtf8(out);
  return out;
}

bool StartsWithWords(std::string_view statement, std::string_view words) {
  return util::AsciiIStartsWith(statement, words) &&
         (statement.size() == words.size() ||
          static_cast<unsigned char>(statement[words.size()]) <= 32);
}

bool IsIsqlOnly(std::string_view statement) {
  return StartsWithWords(statement, "CREATE DATABASE") || StartsWithWords(statement, "SET") ||
         StartsWithWords(statement, "COMMIT") || StartsWithWords(statement, "CONNECT");
}

// Appends a DPB item of text.
void AddDpb(std::string& dpb, char item, const std::string& value) {
  if (!AddParameterText(dpb, item, value))
    throw SqlError("A database parameter is longer than 255 bytes");
}

void AddDpbInt(std::string& dpb, char item, int value) {
  dpb.push_back(item);
  dpb.push_back(4);
  for (int i = 0; i < 4; ++i) dpb.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string CreateDatabaseStatement(std::string_view script) {
  for (const std::string& s : SplitSqlScript(script))
    if (StartsWithWords(s, "CREATE DATABASE")) return s;
  return {};
}

void CreateFirebirdDatabase(std::string_view create_statement, const std::string& location,
                            const std::string& user, const std::string& password,
                            bool forced_writes) {
  if (!StartsWithWords(create_statement, "CREATE DATABASE"))
    throw SqlError("Not a CREATE DATABASE statement");
  // The options of the statement that matter here; the file name is `location`.
  const std::string upper = util::AsciiUpper(create_statement);
  std::smatch m;
  int page_size = 0;
  if (std::regex_search(upper, m, std::regex(R"(PAGE_SIZE\s*=?\s*(\d+))")))
    page_size = std::stoi(m[1].str());
  std::string charset;
  if (std::regex_search(upper, m, std::regex(R"(DEFAULT\s+CHARACTER\s+SET\s+([A-Z0-9_]+))")))
    charset = m[1].str();

  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  if (!user.empty()) AddDpb(dpb, isc_dpb_user_name, user);
  if (!password.empty()) AddDpb(dpb, isc_dpb_password, password);
  AddDpbInt(dpb, isc_dpb_sql_dialect, SQL_DIALECT_V6);
  if (page_size > 0) AddDpbInt(dpb, isc_dpb_page_size, page_size);
  if (!charset.empty()) AddDpb(dpb, isc_dpb_set_db_charset, charset);
  AddDpbInt(dpb, isc_dpb_force_write, forced_writes ? 1 : 0);
  // The file name is UTF-8 whatever the process's locale says.
  dpb.push_back(static_cast<char>(isc_dpb_utf8_filename));
  dpb.push_back(0);

  ISC_STATUS_ARRAY status{};
  isc_db_handle db = 0;
  if (isc_create_database(status, 0, location.c_str(), &db, static_cast<short>(dpb.size()),
                          dpb.data(), 0))
    throw SqlError(StatusText(status));
  if (db && isc_detach_database(status, &db)) throw SqlError(StatusText(status));
}

void DropFirebirdDatabase(const std::string& location, const std::string& user,
                          const std::string& password) {
  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  if (!user.empty()) AddDpb(dpb, isc_dpb_user_name, user);
  if (!password.empty()) AddDpb(dpb, isc_dpb_password, password);
  dpb.push_back(static_cast<char>(isc_dpb_utf8_filename));
  dpb.push_back(0);
  ISC_STATUS_ARRAY status{};
  isc_db_handle db = 0;
  if (isc_attach_database(status, 0, location.c_str(), &db, static_cast<short>(dpb.size()),
                          dpb.data()))
    throw SqlError(StatusText(status));
  if (isc_drop_database(status, &db)) {
    const std::string text = StatusText(status);
    ISC_STATUS_ARRAY ignored{};
    if (db) isc_detach_database(ignored, &db);
    throw SqlError(text);
  }
}

void RunSqlScript(SqlConnection& scn, std::string_view script) {
  SqlQuery q(scn);
  for (const std::string& statement : SplitSqlScript(script)) {
    if (IsIsqlOnly(statement)) continue;
    q.SetSql({statement});
    try {
      q.ExecSQL();
    } catch (const SqlError& e) {
      throw SqlError(std::string(e.what()) + "\nStatement: " + statement);
    }
  }
}

}  // namespace orv::data
