#include "data/test_db.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "data/firebird_admin.h"
#include "util/platform.h"

namespace orv::data::testdb {

std::unique_ptr<SqlConnection> FirebirdConnection(const std::string& location,
                                                  const std::string& user,
                                                  const std::string& password) {
  auto scn = std::make_unique<SqlConnection>();
  scn->SetDriver("Firebird", "fbclient.dll");
  scn->SetConnectionName("FBConnection");
  scn->SetParam("DriverName", "Firebird");
  scn->SetParam("DataBase", location);
  scn->SetParam("User_Name", user);
  scn->SetParam("Password", password);
  scn->SetParam("SQLDialect", "3");
  return scn;
}

void CreateSchemaDatabase(const std::string& location, const std::string& user,
                          const std::string& password) {
  CreateFirebirdDatabase(CreateDatabaseStatement(SchemaScript()), location, user, password,
                         /*forced_writes=*/false);
  auto scn = FirebirdConnection(location, user, password);
  RunSqlScript(*scn, SchemaScript());
  scn->Close();
}

void LoadFixture(const std::string& location, const std::string& user,
                 const std::string& password) {
  auto scn = FirebirdConnection(location, user, password);
  RunSqlScript(*scn, FixtureScript());
  scn->Close();
}

std::string CreateTestDatabase(const std::filesystem::path& folder, bool with_fixture,
                               const std::string& name) {
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = std::filesystem::absolute(folder / name);
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  const std::string location = util::platform::Utf8FromPath(file);
  CreateSchemaDatabase(location);
  if (with_fixture) LoadFixture(location);
  return location;
}

bool ServerAvailable() {
  try {
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    socket.connect({boost::asio::ip::make_address(std::string(kServerHost)),
                    static_cast<unsigned short>(kServerPort)});
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::string ServerLocation(const std::filesystem::path& file) {
  return std::string(kServerHost) + "/" + std::to_string(kServerPort) + ":" +
         util::platform::Utf8FromPath(std::filesystem::absolute(file));
}

void PrepareServerFolder(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  std::filesystem::permissions(folder, std::filesystem::perms::all,
                               std::filesystem::perm_options::add);
}

}  // namespace orv::data::testdb
