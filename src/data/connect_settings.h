// The settings of one SQL connection (driver, client library, connection name, parameters)
// and what follows from them without a database: the connect string of each backend, the
// transaction parameters of the Firebird kinds and the statements a new ODBC session runs
// first. The SQL client layer's own header: nothing outside src/data includes it.
//
// Thread safety: pure functions of their arguments.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/text.h"

namespace orv::data {

enum class BackendKind { kFirebird, kSqlServer, kOracle };

// "MSSQL", "Oracle"; "Firebird", "Interbase" and anything else are the Firebird client.
BackendKind BackendOf(std::string_view driver);

struct Settings {
  std::string driver = "Firebird";
  std::string vendor_lib;
  std::string connection_name;
  bool login_prompt = false;
  std::vector<std::pair<std::string, std::string>> params;

  std::string Param(std::string_view name) const {
    for (const auto& [k, v] : params)
      if (util::AsciiIEquals(k, name)) return v;
    return {};
  }
};

// The connect string of the backend (SqlError when a value cannot be written in it).
std::string BuildConnectString(const Settings& s);
// The ODBC statement time-out in seconds ("QueryTimeout", else kOdbcStatementTimeoutSeconds).
int QueryTimeoutOf(const Settings& s);
// The transaction parameter block of the Firebird kinds, from the profile; with read_only, for
// a transaction that only reads.
std::string BuildTransactionParameters(const Settings& s, bool read_only = false);
// Appends a text item to a Firebird parameter block, whose items give their length in one
// byte; false, appending nothing, for a value longer than 255 bytes.
bool AddParameterText(std::string& block, int item, std::string_view value);
// How a Firebird database on this machine (a path or an alias, no server named: the engine
// runs in this process) is opened first: the attach call's database name and parameter block,
// which carries kEmbeddedEngineConfig. Nothing for a server's database or the ODBC kinds.
struct EngineOpening {
  std::string database;
  std::string parameters;
};
std::optional<EngineOpening> BuildEngineOpening(const Settings& s);
// The statements a new session runs first (SQL Server: its lock time-out).
std::vector<std::string> BuildSetupStatements(const Settings& s);

}  // namespace orv::data
