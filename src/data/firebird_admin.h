// Creating and dropping Firebird databases and running SQL scripts on a connection: what the
// test databases, the demo and the catalog generator need; the service itself never does it.
//
// Thread safety: any thread; each call works on its own attachment or on the connection given
// (whose statements are serialised by the connection).
#pragma once

#include <string>
#include <string_view>

#include "data/sql.h"

namespace orv::data {

// Creates a database at `location` (a path: the embedded engine; "host:path" or
// "host/port:path": a server) with the page size and default character set of a
// "CREATE DATABASE '<file>' ..." statement as an isql script holds it (its file name is not
// used), in SQL dialect 3. Without forced writes the creation and every later commit skip the
// disk flush: right for test, demo and benchmark databases, not for real data. Raises SqlError
// with the client's text.
void CreateFirebirdDatabase(std::string_view create_statement, const std::string& location,
                            const std::string& user, const std::string& password,
                            bool forced_writes = true);

// Drops the database at `location` (everything in it is lost). Raises SqlError.
void DropFirebirdDatabase(const std::string& location, const std::string& user,
                          const std::string& password);

// Runs a script statement by statement on `scn`, each committed on its own. Statements for
// isql only ("CREATE DATABASE", "SET ...", "COMMIT", "CONNECT") are skipped. Raises SqlError
// naming the statement that failed.
void RunSqlScript(SqlConnection& scn, std::string_view script);

// The "CREATE DATABASE" statement of a script, or empty text when it has none.
std::string CreateDatabaseStatement(std::string_view script);

}  // namespace orv::data
