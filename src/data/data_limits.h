// Limits of the SQL client layer and of the connection profiles, each with its reason.
//
// Thread safety: constants only.
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

namespace orv::data {

// Seconds a SQL Server login may take when the profile gives no "LoginTimeout": FreeTDS waits
// for ever on a server that accepts the connection and never answers. FreeTDS applies the same
// value to each query, so it is generous for a long download on a slow server.
inline constexpr int kOdbcLoginTimeoutSeconds = 30;

// Seconds a Firebird or Interbase statement waits for a row lock held by another transaction
// (a back-office program editing a price, say) before it fails with the database's own lock
// conflict message; the connection parameter "LockTimeout" changes it. Waiting for ever would
// hold the collector, every other collector of the same user (they share one connection) and
// the stop of the service for as long as the lock is held.
inline constexpr int kLockTimeoutSeconds = 10;
// Seconds a SQL Server statement waits for a lock (SET LOCK_TIMEOUT, the same meaning), and the
// statement time-out of the ODBC kinds, which bounds a whole statement: generous for the
// largest download on a slow server, and the only bound Oracle's driver offers. The connection
// parameter "QueryTimeout" changes it.
inline constexpr int kOdbcStatementTimeoutSeconds = 30;

// A statement whose connection turns out to be lost before anything was executed is run once
// more on a fresh connection; more attempts would only hide a server that stays away.
inline constexpr int kStatementAttemptsOnLostConnection = 2;

// Rows per transaction for bulk loading (ExecBatch callers split larger loads): large enough
// to amortise the commit, small enough to keep the parameter vectors modest.
inline constexpr std::size_t kBatchRowsPerTransaction = 5000;

// Statements kept prepared per connection (SqlQuery::SetKeepPrepared). The service has a
// handful of fixed statements per connection; the bound keeps a program that marks texts
// built from data from holding an unbounded number of prepared statements on the server.
inline constexpr std::size_t kMaxKeptStatements = 16;
// Age after which a kept statement is prepared again. A prepared statement goes on reading a
// table as it was defined when prepared; this bounds how long a change of definitions made
// while the service runs stays unseen, at the cost of one parse per statement per period.
inline constexpr std::chrono::milliseconds kKeptStatementMaxAge{10000};

// Longest wait for the Firebird client's orderly shutdown when a program ends (EndProcess):
// ending attachments and the embedded engine's threads takes milliseconds; the bound keeps a
// server that no longer answers from holding the program's exit.
inline constexpr std::chrono::milliseconds kClientShutdownTimeout{5000};

// Management connections the user lookups of Auth share (ScnGestao and copies of it, each
// opened when first needed): every connection runs one statement at a time, so with one
// connection every login of a shift-start burst queues behind the others. Four let the
// database serve lookups side by side on the 2-4 cores a store chain's server has; more would
// only add attachments that wait for the same cores.
inline constexpr std::size_t kConexoesConsultaGestao = 4;

// The engine's settings for an embedded database, given by the attachment that opens it in
// this process (they hold while it stays open; a server's own configuration is left alone).
// Statements clean up the old row versions they meet ("cooperative"), as the engine does in
// its classic modes, instead of a collector thread of its own: that thread is woken at every
// transaction's start, and every statement here has a transaction of its own, so it cost a
// wake-up and a switch between threads per statement.
inline constexpr std::string_view kEmbeddedEngineConfig = "GCPolicy = cooperative";

// Firebird names a database by at most 255 bytes in the attach call (a short length field).
inline constexpr std::size_t kMaxFirebirdDatabaseName = 255;

}  // namespace orv::data
