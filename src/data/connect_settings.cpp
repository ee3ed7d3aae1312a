#include "data/connect_settings.h"

#include <ibase.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "data/data_limits.h"
#include "data/sql.h"
#include "util/text.h"

namespace orv::data {

namespace {

// A value in a Firebird "key=value" connect string: quoted when it holds blanks.
std::string FirebirdValue(std::string_view key, const std::string& value) {
  const bool blank = std::any_of(value.begin(), value.end(),
                                 [](char c) { return static_cast<unsigned char>(c) <= 32; });
  if (!blank && value.find('"') == std::string::npos) return value;
  if (value.find('"') != std::string::npos)
    throw SqlError("The connection parameter " + std::string(key) +
                   " cannot hold a double quote together with blanks");
  return "\"" + value + "\"";
}

// A value in an ODBC connection string: braced when it holds characters with a meaning there.
std::string OdbcValue(const std::string& value) {
  const bool special = value.find_first_of(";{}=") != std::string::npos ||
                       (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!special) return value;
  std::string out = "{";
  for (char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.push_back('}');
  return out;
}

// Text for the Firebird client's attach call (file name, user, password): the client reads it
// in the system's character set, whatever the connection's character set is.
std::string ForFirebirdClient(const std::string& utf8) {
#ifdef _WIN32
  return util::Utf8ToAnsi(utf8);
#else
  return utf8;
#endif
}

// Seconds of a connection parameter, or `fallback` when absent.
int SecondsParam(const Settings& s, std::string_view name, int fallback) {
  const std::string v = s.Param(name);
  if (v.empty()) return fallback;
  try {
    return std::stoi(v);
  } catch (const std::exception&) {
    throw SqlError("The connection parameter " + std::string(name) +
                   " is not a number of seconds: " + v);
  }
}

}  // namespace

BackendKind BackendOf(std::string_view driver) {
  if (util::AsciiIEquals(driver, "MSSQL")) return BackendKind::kSqlServer;
  if (util::AsciiIEquals(driver, "Oracle")) return BackendKind::kOracle;
  return BackendKind::kFirebird;  // "Firebird", "Interbase" and anything else
}

std::string BuildConnectString(const Settings& s) {
  switch (BackendOf(s.driver)) {
    case BackendKind::kFirebird: {
      const std::string database = s.Param("DataBase");
      if (database.size() > kMaxFirebirdDatabaseName)
        throw SqlError("The database name is longer than " +
                       std::to_string(kMaxFirebirdDatabaseName) + " bytes");
      std::string out = "service=" + FirebirdValue("DataBase", ForFirebirdClient(database));
      const std::string user = s.Param("User_Name");
      const std::string password = s.Param("Password");
      if (!user.empty()) out += " user=" + FirebirdValue("User_Name", ForFirebirdClient(user));
      if (!password.empty())
        out += " password=" + FirebirdValue("Password", ForFirebirdClient(password));
      out += " charset=WIN1252";
      return out;
    }
    case BackendKind::kSqlServer: {
      // "host", "host,port" or "host\instance" (a named instance is found without a port).
      std::string host = s.Param("HostName");
      std::string port = "1433";
      if (const auto comma = host.find(','); comma != std::string::npos) {
        port = host.substr(comma + 1);
        host.resize(comma);
      } else if (host.find('\\') != std::string::npos) {
        port.clear();
      }
      std::string timeout = s.Param("LoginTimeout");
      if (timeout.empty()) timeout = std::to_string(kOdbcLoginTimeoutSeconds);
      std::string out = "DRIVER={FreeTDS};Server=" + OdbcValue(host) + ";";
      if (!port.empty()) out += "Port=" + OdbcValue(port) + ";";
      out += "Database=" + OdbcValue(s.Param("DataBase")) + ";";
      out += "UID=" + OdbcValue(s.Param("User_Name")) + ";";
      out += "PWD=" + OdbcValue(s.Param("Password")) + ";";
      out += "TDS_Version=7.4;ClientCharset=UTF-8;Timeout=" + OdbcValue(timeout) + ";";
      return out;
    }
    case BackendKind::kOracle:
      return "DSN=" + OdbcValue(s.Param("DataBase")) + ";UID=" + OdbcValue(s.Param("User_Name")) +
             ";PWD=" + OdbcValue(s.Param("Password")) + ";";
  }
  return {};
}

bool AddParameterText(std::string& block, int item, std::string_view value) {
  if (value.size() > 255) return false;
  block += static_cast<char>(item);
  block += static_cast<char>(value.size());
  block += value;
  return true;
}

// A server is named as "host:path", "host/port:path" or "protocol://host/path", and on Windows
// also as "\\host\path"; a drive letter's colon ("C:\...") names none.
static bool NamesServer(const std::string& database) {
  if (database.find("://") != std::string::npos) return true;
  const std::size_t colon = database.find(':');
#ifdef _WIN32
  if (database.rfind("\\\\", 0) == 0) return true;
  const bool drive = colon == 1 && std::isalpha(static_cast<unsigned char>(database[0]));
  if (drive) return database.find(':', 2) != std::string::npos;
#endif
  return colon != std::string::npos;
}

std::optional<EngineOpening> BuildEngineOpening(const Settings& s) {
  if (BackendOf(s.driver) != BackendKind::kFirebird) return std::nullopt;
  const std::string database = ForFirebirdClient(s.Param("DataBase"));
  if (database.empty() || database.size() > kMaxFirebirdDatabaseName || NamesServer(database))
    return std::nullopt;
  EngineOpening out{database, std::string(1, static_cast<char>(isc_dpb_version1))};
  const std::string user = ForFirebirdClient(s.Param("User_Name"));
  const std::string password = ForFirebirdClient(s.Param("Password"));
  if ((!user.empty() && !AddParameterText(out.parameters, isc_dpb_user_name, user)) ||
      (!password.empty() && !AddParameterText(out.parameters, isc_dpb_password, password)) ||
      !AddParameterText(out.parameters, isc_dpb_config, kEmbeddedEngineConfig))
    return std::nullopt;
  return out;
}

int QueryTimeoutOf(const Settings& s) {
  return std::max(0, SecondsParam(s, "QueryTimeout", kOdbcStatementTimeoutSeconds));
}

std::string BuildTransactionParameters(const Settings& s, bool read_only) {
  std::string tpb;
  tpb += static_cast<char>(isc_tpb_version3);
  tpb += static_cast<char>(read_only ? isc_tpb_read : isc_tpb_write);
  // "RepeatableRead" is a snapshot; "ReadCommited" (the profile's) and anything else read the
  // newest committed version of each row.
  if (util::AsciiIEquals(s.Param("InterBase TransIsolation"), "RepeatableRead")) {
    tpb += static_cast<char>(isc_tpb_concurrency);
  } else {
    tpb += static_cast<char>(isc_tpb_read_committed);
    tpb += static_cast<char>(isc_tpb_rec_version);
  }
  if (util::AsciiIEquals(s.Param("WaitOnLocks"), "False")) {
    tpb += static_cast<char>(isc_tpb_nowait);
    return tpb;
  }
  tpb += static_cast<char>(isc_tpb_wait);
  const int seconds = SecondsParam(s, "LockTimeout", kLockTimeoutSeconds);
  if (seconds < 0) return tpb;   // a negative time-out waits for ever, as the client does
  tpb += static_cast<char>(isc_tpb_lock_timeout);
  tpb += static_cast<char>(4);
  for (int i = 0; i < 4; ++i) tpb += static_cast<char>((static_cast<unsigned>(seconds) >> (8 * i)) & 0xFF);
  return tpb;
}

std::vector<std::string> BuildSetupStatements(const Settings& s) {
  if (BackendOf(s.driver) != BackendKind::kSqlServer) return {};
  return {"SET LOCK_TIMEOUT " + std::to_string(QueryTimeoutOf(s) * 1000)};
}

}  // namespace orv::data
