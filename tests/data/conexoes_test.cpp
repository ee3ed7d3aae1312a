// Connection profiles per database kind, AbrirConexoes against a real embedded database and
// the registry of per-user connections.
#include "data/conexoes.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <thread>

#include "data/config/sconf_writer.h"
#include "support/temp_folder.h"
#include "data/test_db.h"
#include "support/raw_client.h"

namespace orv::data {
namespace {

using ParamMap = std::map<std::string, std::string>;

ParamMap ParamsOf(const SqlConnection& c) {
  return ParamMap(c.Params().begin(), c.Params().end());
}

struct ProfileCase {
  const char* title;
  ConfigConexao config;
  const char* connection_name;
  const char* driver;
  const char* vendor_lib;
  ParamMap params;
};

// The initial defaults of ScnGestao that a profile leaves alone.
const ParamMap kInitial = {{"BlobSize", "-1"}, {"MSSQL TransIsolation", "ReadCommited"}};

ParamMap With(ParamMap m) {
  for (const auto& [k, v] : kInitial) m.emplace(k, v);
  return m;
}

ParamMap FirebirdProfile(const std::string& database, const std::string& user,
                         const std::string& password) {
  return With({{"DriverName", "Firebird"},
               {"DataBase", database},
               {"User_Name", user},
               {"Password", password},
               {"SQLDialect", "3"},
               {"LocaleCode", "0000"},
               {"CommitRetain", "False"},
               {"WaitOnLocks", "True"},
               {"InterBase TransIsolation", "ReadCommited"},
               {"Trim Char", "False"}});
}

TEST(AplicarPerfil, SetsTheProfileOfEachDatabaseKind) {
  const ProfileCase cases[] = {
      {"Firebird, remote server",
       {0, "srv01", "srv01:/dados/gestao.fdb", "srv01:/dados/online.fdb", "", ""},
       "FBConnection", "Firebird", "fbclient.dll",
       FirebirdProfile("srv01:/dados/gestao.fdb", "sysdba", "plinthwax")},
      {"Interbase with credentials",
       {1, "localhost", "/dados/gestao.gdb", "", "ana", "segredo"},
       "FBConnection", "Firebird", "fbclient.dll",
       FirebirdProfile("/dados/gestao.gdb", "ana", "segredo")},
      {"kind 7 is read like Firebird",
       {7, "localhost", "/dados/gestao.fdb", "", "", ""},
       "FBConnection", "Firebird", "fbclient.dll",
       FirebirdProfile("/dados/gestao.fdb", "sysdba", "plinthwax")},
      {"SQL Server",
       {2, "srv02", "GESTAO", "", "sa", "pw"},
       "FBConnection", "MSSQL", "sqlncli10.dll",
       With({{"HostName", "srv02"},
             {"DataBase", "GESTAO"},
             {"User_Name", "sa"},
             {"Password", "pw"},
             {"LibraryName", "soci_odbc"},
             {"VendorLib", "sqlncli10.dll"}})},
      {"SQL Server with an empty password and user",
       {2, "srv02", "GESTAO", "", "", ""},
       "FBConnection", "MSSQL", "sqlncli10.dll",
       With({{"HostName", "srv02"},
             {"DataBase", "GESTAO"},
             {"LibraryName", "soci_odbc"},
             {"VendorLib", "sqlncli10.dll"}})},
      {"Oracle",
       {3, "", "ORCL_GESTAO", "", "ana", "pw"},
       "OracleConnection", "Oracle", "",
       With({{"DriverName", "Oracle"},
             {"DataBase", "ORCL_GESTAO"},
             {"User_Name", "ana"},
             {"Password", "pw"},
             {"SQLDialect", "3"},
             {"LocaleCode", "0000"},
             {"CommitRetain", "False"},
             {"WaitOnLocks", "True"},
             {"InterBase TransIsolation", "ReadCommited"},
             {"Trim Char", "False"}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    SqlConnection scn;
    IniciarScnGestao(scn);
    // Parameters that every profile removes.
    scn.SetParam("ErrorResourceFile", "x.res");
    if (c.config.TipoBanco != 2) {
      scn.SetParam("RoleName", "R");
      scn.SetParam("ServerCharSet", "WIN1252");
    }
    AplicarPerfil(scn, c.config);
    EXPECT_EQ(scn.ConnectionName(), c.connection_name);
    EXPECT_EQ(scn.DriverName(), c.driver);
    EXPECT_EQ(scn.VendorLib(), c.vendor_lib);
    EXPECT_EQ(ParamsOf(scn), c.params);
    EXPECT_FALSE(scn.LoginPrompt());
  }
}

TEST(ConexaoError, PrefixLineFeedCarriageReturnCause) {
  EXPECT_STREQ(ConexaoError("falhou").what(),
               "Incapaz de conectar ao banco de dados. Mensagem de erro: \n\rfalhou");
}

TEST(Conexoes, InitialSettings) {
  Conexoes c;
  EXPECT_EQ(c.ScnSemTrans().DriverName(), "Firebird");
  EXPECT_EQ(c.ScnSemTrans().VendorLib(), "fbclient.dll");
  EXPECT_TRUE(c.ScnSemTrans().Params().empty());
  for (SqlConnection* s : {&c.ScnGestao(), &c.ScnGestaoUsr()}) {
    EXPECT_EQ(s->ConnectionName(), "FBConnection");
    EXPECT_EQ(s->DriverName(), "MSSQL");
    EXPECT_EQ(s->VendorLib(), "sqlncli10.dll");
    EXPECT_FALSE(s->LoginPrompt());
    EXPECT_FALSE(s->IsOpen());
  }
  EXPECT_EQ(c.Lista().Length(), 0);
}

class AbrirConexoesTest : public ::testing::Test {
 protected:
  testing::TempFolder folder_;
};

TEST_F(AbrirConexoesTest, OpensGestaoAndSemTransAndKeepsAClosedTemplate) {
  const std::string db = testdb::CreateTestDatabase(folder_.path(), false);
  Conexoes c;
  c.AbrirConexoes({0, "localhost", db, "", "", ""});
  EXPECT_TRUE(c.ScnGestao().IsOpen());
  EXPECT_TRUE(c.ScnSemTrans().IsOpen());
  EXPECT_EQ(c.ScnSemTrans().Param("DataBase"), db);
  EXPECT_FALSE(c.ScnGestaoUsr().IsOpen());
  EXPECT_EQ(c.ScnGestaoUsr().Params(), c.ScnGestao().Params());
  EXPECT_EQ(c.ScnGestaoUsr().DriverName(), "Firebird");

  SqlQuery q(c.ScnGestao());
  q.SetSql({"SELECT CURRENT_USER AS U FROM RDB$DATABASE"});
  q.Open();
  EXPECT_EQ(q.FieldAsString("U"), "SYSDBA");

  c.Desconectar();
  EXPECT_FALSE(c.ScnGestao().IsOpen());
}

TEST_F(AbrirConexoesTest, AFailureToOpenSemTransEndsBeforeGestao) {
  Conexoes c;
  const std::string missing = (folder_.path() / "none.fdb").string();
  try {
    c.AbrirConexoes({0, "localhost", missing, "", "", ""});
    FAIL();
  } catch (const ConexaoError& e) {
    const std::string m = e.what();
    const std::string prefix = std::string(kPrefixoErroConexao) + "\n\r";
    EXPECT_EQ(m.rfind(prefix, 0), 0u) << m;
    EXPECT_NE(m.find("none.fdb"), std::string::npos) << m;
  }
  EXPECT_FALSE(c.ScnSemTrans().IsOpen());
  EXPECT_FALSE(c.ScnGestao().IsOpen());
}

TEST_F(AbrirConexoesTest, SqlServerLeavesSemTransClosedAndReportsTheClientError) {
  const unsigned short port = orv::testing::ClosedLoopbackPort();
  Conexoes c;
  try {
    c.AbrirConexoes({2, "127.0.0.1," + std::to_string(port), "GESTAO", "", "sa", "x"});
    FAIL();
  } catch (const ConexaoError& e) {
    const std::string m = e.what();
    EXPECT_EQ(m.rfind(std::string(kPrefixoErroConexao) + "\n\r", 0), 0u) << m;
    EXPECT_NE(m.find("Unable to connect"), std::string::npos) << m;
  }
  EXPECT_FALSE(c.ScnSemTrans().HasParam("DataBase"));
  EXPECT_FALSE(c.ScnSemTrans().IsOpen());
  EXPECT_EQ(c.ScnGestaoUsr().DriverName(), "MSSQL");
}

// Conectar reads SCONF.xml of the installation folder found through PATH, then opens.
class ConectarTest : public AbrirConexoesTest {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    saved_path_ = path ? path : "";
  }
  void TearDown() override { setenv("PATH", saved_path_.c_str(), 1); }
  std::string saved_path_;
};

TEST_F(ConectarTest, ReadsTheConfigurationThenOpens) {
  const std::string db = testdb::CreateTestDatabase(folder_.path(), false);
  const auto install = folder_.path() / "orvalen";
  std::filesystem::create_directories(install);
  SconfValores v;
  v.TipoBanco = 0;
  v.Servidor = "LocalHost";
  v.Gestao = db;
  GravarSconf((install / "SCONF.xml").string(), v, false);
  setenv("PATH", ("/usr/bin:" + install.string()).c_str(), 1);

  Conexoes c;
  const ConfigConexao config = c.Conectar("", "");
  EXPECT_EQ(config.LocalGestao, db);
  EXPECT_TRUE(c.ScnGestao().IsOpen());
  EXPECT_EQ(c.ScnGestao().Param("User_Name"), "sysdba");
  EXPECT_EQ(c.ScnGestao().Param("DataBase"), db);
}

TEST_F(ConectarTest, AConfigurationErrorKeepsItsOwnMessage) {
  setenv("PATH", "/usr/bin:/bin", 1);
  Conexoes c;
  try {
    c.Conectar("", "");
    FAIL();
  } catch (const std::exception& e) {
    const std::string m = e.what();
    EXPECT_EQ(m.rfind("Incapaz de carregar as configurações do i-Orvalen. Mensagem de erro: \n\r"
                      "Não foi encontrado o caminho do Orvalen no PATH do sistema.",
                      0),
              0u)
        << m;
  }
  EXPECT_FALSE(c.ScnGestao().IsOpen());
}

// Lookups get ScnGestao first, then copies of it up to the limit; past it a lease waits for one
// to come back, and the connection returned last is the next one lent (the copies are opened
// only when a burst needs them, and then stay warm).
TEST(PoolGestao, LendsScnGestaoThenCopiesUpToTheLimitAndWaitsBeyondIt) {
  SqlConnection gestao;
  IniciarScnGestao(gestao);
  gestao.SetParam("DataBase", "/dados/gestao.fdb");
  PoolGestao pool(gestao, 3);
  std::optional<PoolGestao::Emprestimo> a(pool.Emprestar());
  EXPECT_EQ(&**a, &gestao);
  std::optional<PoolGestao::Emprestimo> b(pool.Emprestar());
  std::optional<PoolGestao::Emprestimo> c(pool.Emprestar());
  EXPECT_NE(&**b, &gestao);
  EXPECT_NE(&**b, &**c);
  EXPECT_EQ((*b)->Param("DataBase"), "/dados/gestao.fdb");
  EXPECT_FALSE((*b)->IsOpen());
  EXPECT_EQ(pool.Tamanho(), 3u);

  SqlConnection* devolvida = &**b;
  std::atomic<SqlConnection*> recebida{nullptr};
  std::thread espera([&] {
    const PoolGestao::Emprestimo d = pool.Emprestar();
    recebida = &*d;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(recebida.load(), nullptr);   // all three are lent
  b.reset();
  espera.join();
  EXPECT_EQ(recebida.load(), devolvida);
  EXPECT_EQ(pool.Tamanho(), 3u);

  c.reset();
  a.reset();
  EXPECT_EQ(&*pool.Emprestar(), &gestao);   // returned last, lent first
  pool.Fechar();
  EXPECT_EQ(pool.Tamanho(), 1u);
  EXPECT_EQ(&*pool.Emprestar(), &gestao);
}

TEST(ListaConexoes, RegistersEachNameOnceAndKeepsNamesExact) {
  ListaConexoes lista;
  SqlConnection modelo;
  modelo.SetDriver("Firebird", "fbclient.dll");
  modelo.SetParam("DataBase", "x.fdb");

  bool added = false;
  auto ana = lista.Registrar("ana", modelo, &added);
  EXPECT_TRUE(added);
  EXPECT_EQ(lista.Registrar("ana", modelo, &added), ana);
  EXPECT_FALSE(added);
  auto ANA = lista.Registrar("ANA", modelo, &added);
  EXPECT_TRUE(added);
  EXPECT_NE(ANA, ana);
  EXPECT_EQ(lista.Length(), 2);
  EXPECT_EQ(lista.IndexOf("ANA"), 1);
  EXPECT_EQ(lista.ByName("ana"), ana);
  EXPECT_EQ(lista.Find("Ana"), nullptr);
  EXPECT_THROW(lista.ByName("Ana"), util::TCListError);
  EXPECT_EQ(ana->Param("DataBase"), "x.fdb");
  EXPECT_FALSE(ana->IsOpen());
}

TEST(ListaConexoes, ConcurrentRegistrationsOfOneNameGiveOneEntry) {
  ListaConexoes lista;
  SqlConnection modelo;
  constexpr int kThreads = 32;
  std::vector<std::shared_ptr<SqlConnection>> got(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      got[i] = lista.Registrar(i % 2 ? "coletor1" : "ana", modelo);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(lista.Length(), 2);
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(got[i], got[i % 2]);
}

}  // namespace
}  // namespace orv::data
