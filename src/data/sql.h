// The SQL client layer: connections with a named parameter list and statements with named
// parameters, over SOCI (Firebird backend for Firebird/Interbase, ODBC for SQL Server/Oracle).
//
// Every statement is committed on its own: a statement runs, its rows are read into memory,
// and the transaction is committed (rolled back on error). Text crosses this layer as UTF-8;
// Firebird databases use WIN1252 and the layer converts both ways.
//
// Transactions: Firebird and Interbase statements run in transactions with the connection
// profile's isolation and lock wait (SetupStatements below); ODBC databases autocommit.
//
// A connection is opened on its first use if it is closed. A connection found lost is left
// alone (destroying it could end the process from a destructor) and a new one is opened on the
// next use; a statement that found the loss before anything ran is run once more on it.
// Database paths reach the Firebird client in the character set of the process's locale as it
// is at the client's first call (on Linux: set a UTF-8 locale early for paths with accents).
//
// Thread safety: one connection may be used by several threads; each statement execution
// holds that connection's lock for its whole run (execute, fetch, commit). A SqlQuery object
// itself belongs to one thread. Different connections work in parallel. Settings are guarded
// too, but the accessors that return references (DriverName, VendorLib, ConnectionName,
// Params) must not overlap a change of the same connection's settings; Param() may.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/datetime.h"

namespace orv::data {

// An error of the database or of the client layer; what() is the database's own message
// (without SOCI's " while executing ..." suffix).
class SqlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SqlConnectionImpl;

class SqlConnection {
 public:
  SqlConnection();
  ~SqlConnection();
  SqlConnection(const SqlConnection&) = delete;
  SqlConnection& operator=(const SqlConnection&) = delete;

  // Driver kind ("Firebird", "MSSQL", "Oracle"), its client library and the connection name.
  void SetDriver(std::string driver_name, std::string vendor_lib);
  const std::string& DriverName() const;
  const std::string& VendorLib() const;
  void SetConnectionName(std::string name);
  const std::string& ConnectionName() const;
  void SetLoginPrompt(bool on);
  bool LoginPrompt() const;

  // Named parameters; names compare without regard to ASCII case; an empty value removes.
  void SetParam(std::string_view name, std::string_view value);
  std::string Param(std::string_view name) const;   // "" when absent
  bool HasParam(std::string_view name) const;
  const std::vector<std::pair<std::string, std::string>>& Params() const;

  // Opening an open connection does nothing; closing a closed one does nothing.
  void Open();
  void Close();
  bool IsOpen() const;

  // A new, closed connection with the same driver, name and parameters.
  std::unique_ptr<SqlConnection> Copy() const;

  // Age after which a statement kept prepared (SqlQuery::SetKeepPrepared) is prepared again;
  // kKeptStatementMaxAge unless changed.
  void SetKeptStatementMaxAge(std::chrono::milliseconds age);

  // The backend and connection string that Open() would use (for diagnostics and tests).
  std::string BackendName() const;
  std::string ConnectString() const;
  // What Open() sets up on a new session (for diagnostics and tests): the statements run once
  // (SQL Server: its lock time-out) and, for the Firebird kinds, the parameters every
  // statement's transaction starts with (read committed or snapshot from "InterBase
  // TransIsolation", waiting on locks from "WaitOnLocks" for at most "LockTimeout" seconds or
  // kLockTimeoutSeconds); empty for the others, whose statements end after "QueryTimeout"
  // seconds or kOdbcStatementTimeoutSeconds (SQL Server's lock wait likewise).
  std::vector<std::string> SetupStatements() const;
  std::string TransactionParameters() const;
  // For a Firebird database the engine runs in this process, the attach parameters that open
  // it with kEmbeddedEngineConfig; empty for a server's database and the ODBC kinds.
  std::string EngineParameters() const;

  SqlConnectionImpl& impl();

 private:
  std::unique_ptr<SqlConnectionImpl> impl_;
};

class SqlQuery {
 public:
  explicit SqlQuery(SqlConnection& connection);
  ~SqlQuery();
  SqlQuery(const SqlQuery&) = delete;
  SqlQuery& operator=(const SqlQuery&) = delete;

  // The SQL text as a list of lines, joined with CR LF when sent.
  void SetSql(std::vector<std::string> lines);
  void AddLine(std::string line);
  void ClearSql();
  // The lines, each followed by CR LF.
  std::string SqlText() const;

  // Named parameters (":NAME" in the text).
  void ParamAsString(std::string_view name, std::string_view value);
  void ParamAsInteger(std::string_view name, std::int32_t value);
  void ParamAsFloat(std::string_view name, float value);

  // Keeps the statement prepared on its connection (Firebird) for the next run of the same text
  // with values of the same kinds, which then skips the database's parse. For the program's
  // own fixed texts only, never for SQL that comes from outside: a prepared statement keeps
  // its tables in use, so other connections' changes to their definitions may wait or fail.
  void SetKeepPrepared(bool on);
  // The statement only reads: on Firebird its transaction is read-only, which the engine starts
  // and commits at less cost (a login's user lookup does it once per call). A statement that
  // writes then fails. Other databases run it as any other.
  void SetReadOnly(bool on);

  // Runs a statement that returns rows: all rows are read, then the statement is committed.
  // An open result stays as it is (Close first to run the statement again).
  void Open();
  bool IsEmpty() const;
  void First();
  void Next();
  bool Eof() const;
  std::size_t RowCount() const;
  void Close();   // drops the rows; keeps SQL and parameters

  // Columns of the current row by name (ASCII case-insensitive). A null reads as "", 0 or the
  // zero date-time; a numeric column read as text uses the host's decimal separator.
  std::string FieldAsString(std::string_view column) const;
  std::int32_t FieldAsInteger(std::string_view column) const;
  util::TDateTime FieldAsDateTime(std::string_view column) const;

  // Runs a statement that returns no rows, committed on its own.
  void ExecSQL();

  // Bulk loading (tools and test databases; the service does not use it): runs the statement
  // once per row, binding the row's texts to the parameters in their order of appearance in
  // the SQL, all rows in one transaction (rolled back whole on error). Every row must have one
  // text per parameter occurrence. The database converts the texts to the column types.
  void ExecBatch(const std::vector<std::vector<std::string>>& rows);

 private:
  struct State;
  SqlConnection& connection_;
  std::unique_ptr<State> state_;
};

// Connections and statements left alone so far because their connection was lost.
std::size_t AbandonedConnections();

}  // namespace orv::data
