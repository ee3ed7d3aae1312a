// Fresh Firebird databases with the management schema (db/schema.sql) and, when wanted, the
// small fixture data set (db/fixture.sql): for tests, benchmarks, the demo and the catalog
// generator. Both scripts are built into the library, so no source folder is needed at run
// time. Also the facts about the local test server of scripts/fbserver.sh.
//
// Thread safety: any thread; each call opens its own connections.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "data/sql.h"

namespace orv::data::testdb {

// The test server of scripts/fbserver.sh and the SYSDBA password it sets.
inline constexpr std::string_view kServerHost = "127.0.0.1";
inline constexpr int kServerPort = 3050;
inline constexpr std::string_view kSysdbaUser = "SYSDBA";
inline constexpr std::string_view kSysdbaPassword = "plinthwax";

std::string_view SchemaScript();
std::string_view FixtureScript();

// A closed connection with the Firebird profile's essentials to `location` (a path: embedded;
// "host:path": a server).
std::unique_ptr<SqlConnection> FirebirdConnection(
    const std::string& location, const std::string& user = std::string(kSysdbaUser),
    const std::string& password = std::string(kSysdbaPassword));

// Creates the database at `location` with the schema (the file must not exist).
void CreateSchemaDatabase(const std::string& location,
                          const std::string& user = std::string(kSysdbaUser),
                          const std::string& password = std::string(kSysdbaPassword));
// Adds the fixture data set to a database made by CreateSchemaDatabase.
void LoadFixture(const std::string& location, const std::string& user = std::string(kSysdbaUser),
                 const std::string& password = std::string(kSysdbaPassword));

// Creates folder/name as an embedded database with the schema and, when `with_fixture`, the
// fixture; an existing file of that name is replaced. Returns the database's path.
std::string CreateTestDatabase(const std::filesystem::path& folder, bool with_fixture = true,
                               const std::string& name = "gestao.fdb");

// True when something answers on the test server's port (a TCP connect on loopback).
bool ServerAvailable();
// The server's location of a database file: "127.0.0.1/3050:" + path.
std::string ServerLocation(const std::filesystem::path& file);
// Makes `folder` (created if needed) writable by the server's own user, which creates and
// opens the database files there.
void PrepareServerFolder(const std::filesystem::path& folder);

}  // namespace orv::data::testdb
