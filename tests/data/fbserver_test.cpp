// Against the Firebird server of scripts/fbserver.sh: logins really checked, per-user logins,
// and connections that lose their server (through a forwarder the test cuts).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "data/conexoes.h"
#include "data/process_end.h"
#include "data/tcp_proxy.h"
#include "support/temp_folder.h"
#include "data/test_db.h"

namespace orv::data {
namespace {

constexpr const char* kLoginRefused = "Your user name and password are not defined";

class FbServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testdb::ServerAvailable())
      GTEST_SKIP() << "no Firebird server on 127.0.0.1:3050 (start it: scripts/fbserver.sh start)";
    testdb::PrepareServerFolder(folder_.path());
    file_ = (folder_.path() / "gestao.fdb").string();
    location_ = testdb::ServerLocation(file_);
    testdb::CreateSchemaDatabase(location_);
    testdb::LoadFixture(location_);
  }
  std::string Via(unsigned short port) const {
    return "127.0.0.1/" + std::to_string(port) + ":" + file_;
  }
  static std::string One(SqlConnection& c, const std::string& sql, bool keep = false) {
    SqlQuery q(c);
    q.SetKeepPrepared(keep);
    q.SetSql({sql});
    q.Open();
    return q.FieldAsString("V");
  }

  testing::TempFolder folder_;
  std::string file_;
  std::string location_;
};

TEST_F(FbServerTest, TheServerChecksLogins) {
  struct Case {
    const char* user;
    const char* password;
    bool accepted;
  };
  const Case cases[] = {
      {"SYSDBA", "plinthwax", true},
      {"sysdba", "plinthwax", true},  // user names ignore case
      {"SYSDBA", "PLINTHWAX", false},  // passwords do not
      {"SYSDBA", "wrong", false},
      {"NOBODY_HERE", "plinthwax", false},
  };
  for (const Case& c : cases) {
    auto scn = testdb::FirebirdConnection(location_, c.user, c.password);
    if (c.accepted) {
      EXPECT_NO_THROW(scn->Open()) << c.user << "/" << c.password;
      EXPECT_EQ(One(*scn, "SELECT CURRENT_USER AS V FROM RDB$DATABASE"), "SYSDBA");
    } else {
      try {
        scn->Open();
        ADD_FAILURE() << c.user << "/" << c.password << " accepted";
      } catch (const SqlError& e) {
        EXPECT_NE(std::string(e.what()).find(kLoginRefused), std::string::npos) << e.what();
      }
      EXPECT_FALSE(scn->IsOpen());
    }
  }
}

TEST_F(FbServerTest, AbrirConexoesLogsInWithTheProfileAndReportsARefusal) {
  Conexoes ok;
  ok.AbrirConexoes({0, "127.0.0.1/3050", location_, "", "", ""});
  EXPECT_TRUE(ok.ScnGestao().IsOpen());
  EXPECT_TRUE(ok.ScnSemTrans().IsOpen());

  Conexoes refused;
  try {
    refused.AbrirConexoes({0, "127.0.0.1/3050", location_, "", "SYSDBA", "wrong"});
    FAIL();
  } catch (const ConexaoError& e) {
    const std::string m = e.what();
    EXPECT_EQ(m.rfind(std::string(kPrefixoErroConexao) + "\n\r" + kLoginRefused, 0), 0u) << m;
  }
  EXPECT_FALSE(refused.ScnGestao().IsOpen());
}

// A collector user's connection is a copy of the template with its own login.
TEST_F(FbServerTest, PerUserConnectionLogsInAsThatUser) {
  const std::string user = "ORVWS_T" + std::to_string(getpid());
  auto admin = testdb::FirebirdConnection(location_);
  auto exec = [&](const std::string& sql) {
    SqlQuery q(*admin);
    q.SetSql({sql});
    q.ExecSQL();
  };
  exec("CREATE OR ALTER USER " + user + " PASSWORD 'senha12' USING PLUGIN Srp");

  Conexoes c;
  c.AbrirConexoes({0, "127.0.0.1/3050", location_, "", "", ""});
  auto mine = c.Lista().Registrar(user, c.ScnGestaoUsr());
  mine->SetParam("User_Name", user);
  mine->SetParam("Password", "senha12");
  mine->Open();
  EXPECT_EQ(One(*mine, "SELECT CURRENT_USER AS V FROM RDB$DATABASE"), user);
  EXPECT_EQ(One(*mine, "SELECT COUNT(*) AS V FROM TAB_PRODUTO"), "5");
  mine->Close();
  mine->SetParam("Password", "other");
  EXPECT_THROW(mine->Open(), SqlError);

  exec("DROP USER " + user + " USING PLUGIN Srp");
}

// The server goes away under an open connection: the statement that finds out fails with the
// client's message (or, when nothing had run yet, is run again on a fresh connection), the
// process never ends, and the connection is opened anew on its next use.
TEST_F(FbServerTest, ALostConnectionIsReopenedOnItsNextUse) {
  // Also with the count kept prepared: its statement goes with the lost connection and is
  // prepared anew on the next one.
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "kept prepared" : "prepared each time");
    test::TcpProxy proxy(testdb::kServerPort);
    auto c = testdb::FirebirdConnection(Via(proxy.port()));
    const std::string count = "SELECT COUNT(*) AS V FROM TAB_PRODUTO";
    EXPECT_EQ(One(*c, count, keep), "5");

    // Cut while idle: the next statement notices before running anything and runs again.
    proxy.CutAll();
    EXPECT_EQ(One(*c, count, keep), "5");
    EXPECT_TRUE(c->IsOpen());

    // Server away for good: an error, not a crash.
    proxy.StopListening();
    proxy.CutAll();
    EXPECT_THROW(One(*c, count, keep), SqlError);
    EXPECT_FALSE(c->IsOpen());
    EXPECT_THROW(One(*c, count, keep), SqlError);

    // Back again: the next use opens a new connection.
    proxy.Resume();
    EXPECT_EQ(One(*c, count, keep), "5");

    // Cut in the middle of reading a large result, with the transaction and cursor open.
    proxy.CutAfterServerBytes(64 * 1024);
    SqlQuery big(*c);
    big.SetSql({"SELECT A.RDB$RELATION_NAME AS V FROM RDB$RELATIONS A",
                "CROSS JOIN RDB$RELATIONS B CROSS JOIN RDB$RELATIONS C"});
    try {
      big.Open();
      ADD_FAILURE() << "a cut connection delivered " << big.RowCount() << " rows";
    } catch (const SqlError& e) {
      EXPECT_STRNE(e.what(), "");
    }
    EXPECT_EQ(One(*c, count, keep), "5");

    // Destroying a connection whose server is gone ends nothing but the connection.
    proxy.CutAll();
    proxy.StopListening();
    c.reset();
    SUCCEED();
  }
}

// Connections left alone after losing their server stay until the process ends, and the
// client's own exit-time shutdown walks their dead handles (it crashed a service there after
// its closing lines): ending the process then skips the exit handlers, keeping the status.
TEST_F(FbServerTest, AfterALostConnectionTheProcessEndsWithoutExitHandlers) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        test::TcpProxy proxy(testdb::kServerPort);
        auto c = testdb::FirebirdConnection(Via(proxy.port()));
        const std::string count = "SELECT COUNT(*) AS V FROM TAB_PRODUTO";
        One(*c, count);
        proxy.StopListening();
        proxy.CutAll();
        try {
          One(*c, count);
        } catch (const SqlError&) {
        }
        if (AbandonedConnections() == 0) std::_Exit(90);   // the loss was not seen
        std::atexit([] { std::fputs("exit handlers ran\n", stderr); });
        EndProcess(3);
      },
      ::testing::ExitedWithCode(3), ::testing::Not(::testing::HasSubstr("exit handlers ran")));
}

}  // namespace
}  // namespace orv::data
