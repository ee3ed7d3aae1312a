// Connection settings, copies and the connect strings of each backend; the SQL Server client's
// bounded wait on a listener that never answers.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <functional>
#include <thread>

#include "data/data_limits.h"
#include "data/firebird_admin.h"
#include "data/sql.h"
#include "support/raw_client.h"

namespace orv::data {
namespace {

TEST(SqlConnection, ParametersCompareWithoutCaseAndEmptyRemoves) {
  SqlConnection c;
  c.SetParam("User_Name", "ana");
  c.SetParam("PASSWORD", "x");
  c.SetParam("user_name", "ANA");
  EXPECT_EQ(c.Param("USER_NAME"), "ANA");
  EXPECT_EQ(c.Params().size(), 2u);
  EXPECT_EQ(c.Params()[0].first, "User_Name");  // the first spelling is kept
  c.SetParam("password", "");
  EXPECT_FALSE(c.HasParam("Password"));
  EXPECT_EQ(c.Param("Password"), "");
  c.SetParam("Absent", "");
  EXPECT_EQ(c.Params().size(), 1u);
}

TEST(SqlConnection, CopyIsClosedWithTheSameSettings) {
  SqlConnection c;
  c.SetDriver("MSSQL", "sqlncli10.dll");
  c.SetConnectionName("FBConnection");
  c.SetParam("HostName", "srv");
  c.SetParam("DataBase", "gestao");
  auto copy = c.Copy();
  EXPECT_FALSE(copy->IsOpen());
  EXPECT_EQ(copy->DriverName(), "MSSQL");
  EXPECT_EQ(copy->VendorLib(), "sqlncli10.dll");
  EXPECT_EQ(copy->ConnectionName(), "FBConnection");
  EXPECT_EQ(copy->Params(), c.Params());
  copy->SetParam("HostName", "other");
  EXPECT_EQ(c.Param("HostName"), "srv");  // a copy, not a view
}

struct ConnectStringCase {
  const char* driver;
  std::vector<std::pair<std::string, std::string>> params;
  const char* backend;
  const char* expected;
};

TEST(SqlConnection, ConnectStringPerBackend) {
  const ConnectStringCase cases[] = {
      {"Firebird",
       {{"DataBase", "/srv/db/gestao.fdb"}, {"User_Name", "sysdba"}, {"Password", "plinthwax"}},
       "firebird",
       "service=/srv/db/gestao.fdb user=sysdba password=plinthwax charset=WIN1252"},
      {"Firebird",
       {{"DataBase", "srv01:/dados/Minha Loja/gestao.fdb"}, {"User_Name", "ana"}},
       "firebird",
       "service=\"srv01:/dados/Minha Loja/gestao.fdb\" user=ana charset=WIN1252"},
      {"Interbase", {{"DataBase", "x.fdb"}}, "firebird", "service=x.fdb charset=WIN1252"},
      {"MSSQL",
       {{"HostName", "srv01"}, {"DataBase", "GESTAO"}, {"User_Name", "sa"}, {"Password", "a;b}c"}},
       "odbc",
       "DRIVER={FreeTDS};Server=srv01;Port=1433;Database=GESTAO;UID=sa;PWD={a;b}}c};"
       "TDS_Version=7.4;ClientCharset=UTF-8;Timeout=30;"},
      {"MSSQL",
       {{"HostName", "srv01,1500"}, {"DataBase", "G"}, {"LoginTimeout", "3"}},
       "odbc",
       "DRIVER={FreeTDS};Server=srv01;Port=1500;Database=G;UID=;PWD=;"
       "TDS_Version=7.4;ClientCharset=UTF-8;Timeout=3;"},
      {"MSSQL",
       {{"HostName", "srv01\\SQLEXPRESS"}, {"DataBase", "G"}},
       "odbc",
       "DRIVER={FreeTDS};Server=srv01\\SQLEXPRESS;Database=G;UID=;PWD=;"
       "TDS_Version=7.4;ClientCharset=UTF-8;Timeout=30;"},
      {"Oracle",
       {{"DataBase", "GESTAO_PRD"}, {"User_Name", "ana"}, {"Password", "ana123"}},
       "odbc",
       "DSN=GESTAO_PRD;UID=ana;PWD=ana123;"},
  };
  for (const auto& c : cases) {
    SqlConnection scn;
    scn.SetDriver(c.driver, "");
    for (const auto& [k, v] : c.params) scn.SetParam(k, v);
    EXPECT_EQ(scn.BackendName(), c.backend) << c.expected;
    EXPECT_EQ(scn.ConnectString(), c.expected);
  }
}

// What a new session is set up with: the Firebird kinds' transaction parameters (isolation and
// lock wait from the profile, a bounded wait by default), SQL Server's lock time-out.
TEST(SqlConnection, SessionSetupPerBackend) {
  using P = std::vector<std::pair<std::string, std::string>>;
  const std::string rc_wait = "\x03\x09\x0F\x11\x06";   // version3 write read_committed
                                                        // rec_version wait
  auto lock = [](int s) { return std::string("\x15\x04") + static_cast<char>(s) + '\0' + '\0' + '\0'; };
  const struct {
    const char* driver;
    P params;
    std::string tpb;
    std::vector<std::string> setup;
  } cases[] = {
      {"Firebird", {{"InterBase TransIsolation", "ReadCommited"}, {"WaitOnLocks", "True"}},
       rc_wait + lock(kLockTimeoutSeconds), {}},
      {"Interbase", {}, rc_wait + lock(kLockTimeoutSeconds), {}},
      {"Firebird", {{"WaitOnLocks", "True"}, {"LockTimeout", "3"}}, rc_wait + lock(3), {}},
      {"Firebird", {{"LockTimeout", "-1"}}, rc_wait, {}},
      {"Firebird", {{"WaitOnLocks", "False"}}, "\x03\x09\x0F\x11\x07", {}},
      {"Firebird", {{"InterBase TransIsolation", "RepeatableRead"}},
       "\x03\x09\x02\x06" + lock(kLockTimeoutSeconds), {}},
      {"MSSQL", {{"MSSQL TransIsolation", "ReadCommited"}}, "",
       {"SET LOCK_TIMEOUT " + std::to_string(kOdbcStatementTimeoutSeconds * 1000)}},
      {"Oracle", {{"WaitOnLocks", "True"}}, "", {}},
  };
  for (const auto& c : cases) {
    SqlConnection scn;
    scn.SetDriver(c.driver, "");
    for (const auto& [k, v] : c.params) scn.SetParam(k, v);
    EXPECT_EQ(scn.TransactionParameters(), c.tpb) << c.driver << " " << c.params.size();
    EXPECT_EQ(scn.SetupStatements(), c.setup) << c.driver;
  }
  SqlConnection bad;
  bad.SetParam("LockTimeout", "soon");
  EXPECT_THROW(bad.TransactionParameters(), SqlError);
}

// A Firebird database on this machine is first opened with the engine's settings; a server's
// database and the ODBC kinds are not.
TEST(SqlConnection, EngineSettingsOnlyForADatabaseOnThisMachine) {
  const std::string config = "\x57" + std::string(1, static_cast<char>(kEmbeddedEngineConfig.size())) +
                             std::string(kEmbeddedEngineConfig);
  const struct {
    const char* driver;
    const char* database;
    const char* user;
    std::string expected;
  } cases[] = {
      {"Firebird", "/srv/db/gestao.fdb", "SYSDBA", "\x01\x1c\x06SYSDBA" + config},
      {"Interbase", "gestao", "", "\x01" + config},
      {"Firebird", "srv01:/srv/db/gestao.fdb", "SYSDBA", ""},
      {"Firebird", "127.0.0.1/3050:/srv/db/gestao.fdb", "SYSDBA", ""},
      {"Firebird", "inet://srv01/gestao", "SYSDBA", ""},
      {"Firebird", "", "SYSDBA", ""},
      {"MSSQL", "GESTAO", "sa", ""},
  };
  for (const auto& c : cases) {
    SqlConnection scn;
    scn.SetDriver(c.driver, "");
    scn.SetParam("DataBase", c.database);
    scn.SetParam("User_Name", c.user);
    EXPECT_EQ(scn.EngineParameters(), c.expected) << c.database;
  }
  SqlConnection long_user;
  long_user.SetParam("DataBase", "/srv/db/gestao.fdb");
  long_user.SetParam("User_Name", std::string(300, 'a'));
  EXPECT_EQ(long_user.EngineParameters(), "");
  // The same bound where a database is dropped: a clear error, not a block the length byte
  // no longer describes.
  try {
    DropFirebirdDatabase("/nonexistent/gestao.fdb", std::string(300, 'a'), "x");
    ADD_FAILURE() << "a 300-byte user was accepted";
  } catch (const SqlError& e) {
    EXPECT_STREQ(e.what(), "A database parameter is longer than 255 bytes");
  }
}

// FreeTDS waits for ever on a server that accepts and never answers unless told otherwise;
// the login must fail within the configured time with the client's own message.
TEST(SqlConnection, SqlServerLoginToASilentListenerEndsInBoundedTime) {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor acceptor(
      io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  const unsigned short port = acceptor.local_endpoint().port();
  // Accepts every connection and never says a word.
  std::vector<boost::asio::ip::tcp::socket> held;
  std::function<void()> accept_next = [&] {
    acceptor.async_accept([&](boost::system::error_code ec, boost::asio::ip::tcp::socket s) {
      if (ec) return;
      held.push_back(std::move(s));
      accept_next();
    });
  };
  accept_next();
  std::thread accepting([&] { io.run(); });

  SqlConnection c;
  c.SetDriver("MSSQL", "sqlncli10.dll");
  c.SetParam("HostName", "127.0.0.1," + std::to_string(port));
  c.SetParam("DataBase", "GESTAO");
  c.SetParam("User_Name", "sa");
  c.SetParam("Password", "x");
  c.SetParam("LoginTimeout", "2");
  const auto start = std::chrono::steady_clock::now();
  try {
    c.Open();
    ADD_FAILURE() << "a silent listener accepted the login";
  } catch (const SqlError& e) {
    EXPECT_NE(std::string(e.what()).find("[FreeTDS]"), std::string::npos) << e.what();
  }
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::seconds(10));
  EXPECT_FALSE(c.IsOpen());

  io.stop();
  accepting.join();
}

TEST(SqlConnection, SqlServerLoginToAClosedPortFailsAtOnce) {
  const unsigned short port = orv::testing::ClosedLoopbackPort();
  SqlConnection c;
  c.SetDriver("MSSQL", "sqlncli10.dll");
  c.SetParam("HostName", "127.0.0.1," + std::to_string(port));
  c.SetParam("DataBase", "GESTAO");
  c.SetParam("LoginTimeout", "5");
  try {
    c.Open();
    FAIL();
  } catch (const SqlError& e) {
    EXPECT_NE(std::string(e.what()).find("Unable to connect"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace orv::data
