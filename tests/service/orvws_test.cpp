// The four collector operations against a real embedded Firebird database built from db/.
#include "service/orvws.h"
#include "service/service_limits.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <random>
#include <thread>

#include "data/config/configuracao.h"
#include "data/firebird_admin.h"
#include "data/sql.h"
#include "data/test_db.h"
#include "service/dm_dados.h"
#include "service/script_coletor.h"
#include "service/banco_teste.h"
#include "util/datetime.h"
#include "util/regional.h"
#include "util/text.h"
#include "util/utilities.h"
#include "support/log_reader.h"

namespace {

using orv::service::TDmDados;
using orv::service::TOrvWs;
using orv::testing::BancoTeste;

const std::string kChave(orv::service::kChaveAutenticacao);

using orv::testing::ReadWholeFile;

// The log file's lines, converted from the host code page, without their CR LF.
std::vector<std::string> LogLines(const orv::op::TActivityLog& log) {
  std::vector<std::string> lines = orv::testing::LogFileLines(log.CaminhoArquivo());
  for (std::string& l : lines) l = orv::util::AnsiToUtf8(l);
  return lines;
}

// The text of a log line after its marks ("<start>(<duration>), ").
std::string Texto(const std::string& line) {
  const auto p = line.find("), ");
  return p == std::string::npos ? line : line.substr(p + 3);
}

// Known data: the worked examples, a survey of store 2, a past survey and two users.
const char* const kDados[] = {
    "DELETE FROM TAB_PRODUTO_PESQUISA",
    "DELETE FROM TAB_CODIGO_BARRA",
    "DELETE FROM TAB_PRODUTO",
    "DELETE FROM TAB_PESQUISA",
    "DELETE FROM TAB_PESQUISA_HEADER",
    "DELETE FROM UCS_USERS",
    "DELETE FROM TAB_USUARIO",
    "INSERT INTO TAB_PESQUISA_HEADER (COD_PESQUISA_HEADER, DES_PESQUISA_HEADER, DTA_INICIO, "
    "DTA_TERMINO) VALUES (7, 'Semana 1', '2014-09-01', '2099-09-30')",
    "INSERT INTO TAB_PESQUISA_HEADER (COD_PESQUISA_HEADER, DES_PESQUISA_HEADER, DTA_INICIO, "
    "DTA_TERMINO) VALUES (8, 'Antiga', '2014-09-01', '2014-09-30')",
    "INSERT INTO TAB_PESQUISA (COD_PESQUISA, COD_PESQUISA_HEADER, COD_LOJA, DES_PESQUISA) "
    "VALUES (2, 7, 1, 'Mercado D''Oro')",
    "INSERT INTO TAB_PESQUISA (COD_PESQUISA, COD_PESQUISA_HEADER, COD_LOJA, DES_PESQUISA) "
    "VALUES (3, 7, 2, 'Loja Dois')",
    "INSERT INTO TAB_PESQUISA (COD_PESQUISA, COD_PESQUISA_HEADER, COD_LOJA, DES_PESQUISA) "
    "VALUES (1, 8, 1, 'Velha')",
    "INSERT INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES (123, 'ARROZ 5KG')",
    "INSERT INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES (124, 'FEIJÃO 1KG')",
    "INSERT INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES (125, 'CAFÉ')",
    "INSERT INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES (123, '7891234567895')",
    "INSERT INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES (124, '7890000000017')",
    "INSERT INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES (124, '7890000000024')",
    "INSERT INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES (125, '7890000000031')",
    "INSERT INTO TAB_PRODUTO_PESQUISA (COD_PESQUISA_HEADER, COD_PESQUISA, COD_LOJA, COD_PRODUTO, "
    "VAL_PESQUISA, DTA_PESQUISA) VALUES (7, 2, 1, 124, 3.5, '2014-09-02 10:20:30')",
    "INSERT INTO TAB_PRODUTO_PESQUISA (COD_PESQUISA_HEADER, COD_PESQUISA, COD_LOJA, COD_PRODUTO, "
    "VAL_PESQUISA, DTA_PESQUISA) VALUES (7, 3, 2, 125, 12, '2014-09-03 08:00:00')",
    "INSERT INTO TAB_USUARIO (COD_USUARIO, DES_USUARIO, COD_LOJA, FLG_MULT_LOJA, FLG_COLE_WIFI) "
    "VALUES (3, 'ANA', 1, 'N', 'S')",
    "INSERT INTO TAB_USUARIO (COD_USUARIO, DES_USUARIO, COD_LOJA, FLG_MULT_LOJA, FLG_COLE_WIFI) "
    "VALUES (4, 'BETO', 2, 'S', 'N')",
    "INSERT INTO UCS_USERS (USER_ID, USER_NAME, USER_PWD) VALUES ('3', 'ana', 'a$b')",
    "INSERT INTO UCS_USERS (USER_ID, USER_NAME, USER_PWD) VALUES ('4', 'beto', 'x')",
};

class OrvWsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = orv::util::Regional();
    orv::util::SetRegional(orv::util::RegionalPtBR());
    orv::op::ActivityLogOptions o;
    o.PastaLogs = orv::op::PastaLogsDe(banco_.Pasta());
    log_ = std::make_unique<orv::op::TActivityLog>(std::move(o));
    log_->CreateFolder();
    dm_.DataModuleCreate(banco_.Config());
  }
  void TearDown() override { orv::util::SetRegional(saved_); }

  void CarregarDados() {
    for (const char* sql : kDados) banco_.Executar(sql);
  }
  TOrvWs Ws(const std::string& ip) { return TOrvWs({ip}, dm_, *log_); }
  std::string UltimaLinha() {
    auto l = LogLines(*log_);
    return l.empty() ? std::string() : Texto(l.back());
  }

  orv::util::RegionalSettings saved_;
  BancoTeste banco_;
  TDmDados dm_;
  std::unique_ptr<orv::op::TActivityLog> log_;
};

// ---- Auth -----------------------------------------------------------------------------------

TEST_F(OrvWsTest, AuthWithTheKeyOpensASessionAndTheUsersConnection) {
  CarregarDados();
  EXPECT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  auto s = dm_.CdsAuth().Localizar("10.0.0.1");
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->DES_USUARIO, "ANA");
  EXPECT_EQ(s->COD_USUARIO, 3);
  EXPECT_EQ(s->COD_LOJA, 1);
  EXPECT_EQ(s->FLG_MULT_LOJA, "N");
  auto con = dm_.ConexaoRegistrada("ANA");
  ASSERT_TRUE(con);
  EXPECT_TRUE(con->IsOpen());
  EXPECT_EQ(con->Param("User_Name"), "ANA");
  EXPECT_EQ(con->Param("Password"), orv::service::SenhaDoUsuario("ANA"));
  EXPECT_EQ(UltimaLinha(), "Coletor(10.0.0.1 como ANA) autenticado com sucesso!");
  EXPECT_EQ(log_->Indicadores().NumRequisicoes, 1);

  // A user that TAB_USUARIO does not know still gets a session, with zeros.
  EXPECT_TRUE(Ws("10.0.0.2").Auth(kChave, "coletor1"));
  s = dm_.CdsAuth().Localizar("10.0.0.2");
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->COD_USUARIO, 0);
  EXPECT_EQ(s->COD_LOJA, 0);
  EXPECT_EQ(s->FLG_MULT_LOJA, "");
  EXPECT_EQ(UltimaLinha(), "Coletor(10.0.0.2 como coletor1) autenticado com sucesso!");
}

TEST_F(OrvWsTest, AWrongKeyEndsTheSessionOfTheAddress) {
  CarregarDados();
  const std::string upper = orv::util::AsciiUpper(kChave);
  for (const std::string& chave : {std::string(), std::string("x"), upper, kChave + " "}) {
    ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
    EXPECT_FALSE(Ws("10.0.0.1").Auth(chave, "ANA")) << chave;
    EXPECT_FALSE(dm_.CdsAuth().Localizar("10.0.0.1").has_value());
    EXPECT_EQ(UltimaLinha(),
              "Coletor(10.0.0.1 como ANA) obteve falha ao autenticar, chave de autenticação "
              "inválida!");
    EXPECT_EQ(Ws("10.0.0.1").GetSQL(""), "");
  }
  // From an address without a session: nothing is added.
  EXPECT_FALSE(Ws("10.0.0.9").Auth("7BE09A4F2D31E8C6A05F93D7B2E6184C", "ANA"));
  EXPECT_EQ(dm_.CdsAuth().RecordCount(), 0u);
}

TEST_F(OrvWsTest, SessionsAndTheRegistryOfConnections) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  ASSERT_TRUE(Ws("10.0.0.2").Auth(kChave, "ANA"));
  EXPECT_EQ(dm_.CdsAuth().RecordCount(), 2u);
  EXPECT_EQ(dm_.QuantidadeConexoes(), 1);  // one connection per user name

  // Another user from the same address replaces the row; ANA's connection stays.
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "BETO"));
  EXPECT_EQ(dm_.CdsAuth().Localizar("10.0.0.1")->DES_USUARIO, "BETO");
  EXPECT_EQ(dm_.QuantidadeConexoes(), 2);
  EXPECT_TRUE(dm_.ConexaoRegistrada("ANA"));

  // "ana" and "ANA" are two users with two connections.
  ASSERT_TRUE(Ws("10.0.0.3").Auth(kChave, "ana"));
  EXPECT_EQ(dm_.QuantidadeConexoes(), 3);

  // A name longer than the session's 30 characters (Firebird takes logins of up to 31) and one
  // the code page cannot hold still find their own connections.
  const std::string longo = "coletor_com_nome_de_31_letras_x";
  ASSERT_EQ(longo.size(), 31u);
  const std::string polaco = "łukasz";
  ASSERT_TRUE(Ws("10.0.0.4").Auth(kChave, longo));
  EXPECT_EQ(dm_.CdsAuth().Localizar("10.0.0.4")->DES_USUARIO, longo.substr(0, 30));
  EXPECT_NE(Ws("10.0.0.4").GetSQL("GETUSUARIOS"), "");
  EXPECT_EQ(UltimaLinha(), "Coletor(10.0.0.4 como " + longo +
                               ") executou processo de baixar as pesquisas!");
  // Whether the database takes a login name outside its character set is the client's and
  // the server's business; either the collector works under its own connection, or the login
  // fails and no session is left.
  bool polaco_entrou = false;
  try {
    polaco_entrou = Ws("10.0.0.5").Auth(kChave, polaco);
  } catch (const std::exception&) {
    EXPECT_FALSE(dm_.CdsAuth().Localizar("10.0.0.5").has_value());
    EXPECT_EQ(Ws("10.0.0.5").Exec("DELETE FROM TAB_PRODUTO"), "");
  }
  if (polaco_entrou) {
    EXPECT_EQ(dm_.CdsAuth().Localizar("10.0.0.5")->DES_USUARIO, "?ukasz");
    EXPECT_NE(Ws("10.0.0.5").Exec("UPDATE TAB_PRODUTO SET DES_PRODUTO = DES_PRODUTO WHERE 1 = 0"),
              "");
    // The file holds the host's code page (Windows-1252 here).
    EXPECT_EQ(UltimaLinha(), "Coletor(10.0.0.5 como ?ukasz) executou processo de atualização de "
                             "pesquisas(1 Querie(s) executada(s) com sucesso)!");
  }
  // Longer than any Firebird login: the login fails, and no session is left.
  const std::string longo_demais(51, 'n');
  EXPECT_THROW(Ws("10.0.0.6").Auth(kChave, longo_demais), std::exception);
  EXPECT_FALSE(dm_.CdsAuth().Localizar("10.0.0.6").has_value());

  // Only logins that worked registered a connection; emptying the table keeps them.
  dm_.CdsAuth().EmptyDataSet();
  EXPECT_EQ(dm_.QuantidadeConexoes(), polaco_entrou ? 5 : 4);
  EXPECT_EQ(Ws("10.0.0.1").Exec("SELECT 1 FROM RDB$DATABASE"), "");
}

// Text from a request never starts a log entry of its own: its control characters are written
// visible, while the entry's own line break (after a failing statement) stays. A piece of text
// is cut at its limit, the cut marked with its length; the file keeps every entry.
TEST_F(OrvWsTest, RequestTextCannotForgeOrFloodTheLog) {
  CarregarDados();
  const std::string forjada =
      "x\r\n10/12/2026 10:00:00.000(00:00:00.000), Coletor(10.9.9.9 como admin) autenticado com "
      "sucesso!";
  const auto linhas = LogLines(*log_).size();
  EXPECT_FALSE(Ws("10.0.0.1").Auth("errada", forjada));
  ASSERT_EQ(LogLines(*log_).size(), linhas + 1);
  EXPECT_EQ(UltimaLinha(),
            "Coletor(10.0.0.1 como x\\r\\n10/12/2026 10:00:00.000(00:00:00.000), Coletor(10.9.9.9 "
            "como admin) autenticado com sucesso!) obteve falha ao autenticar, chave de "
            "autenticação inválida!");

  const std::string longo(100000, 'u');
  EXPECT_FALSE(Ws("10.0.0.1").Auth("errada", longo));
  EXPECT_EQ(UltimaLinha(), "Coletor(10.0.0.1 como " + std::string(orv::service::kMaxCaracteresTextoNoLog, 'u') +
                               "(...mais " + std::to_string(100000 - orv::service::kMaxCaracteresTextoNoLog) +
                               " caracteres)) obteve falha ao autenticar, chave de autenticação "
                               "inválida!");

  // A failing statement with line breaks of its own: one entry, two file lines (the entry's own
  // break after the statement), the database's message on the second.
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  const auto antes = LogLines(*log_).size();
  EXPECT_EQ(Ws("10.0.0.1").Exec("SELECT\r\n10/12/2026 forjada\nFROM NADA"), "false;\r\n");
  const auto l = LogLines(*log_);
  ASSERT_EQ(l.size(), antes + 3);   // the error entry (two file lines) and the summary
  EXPECT_EQ(Texto(l[antes]), "Coletor(10.0.0.1 como ANA) executando processo de atualização de "
                             "pesquisas. Erro ao executar a Query: SELECT\\r\\n10/12/2026 "
                             "forjada\\nFROM NADA");
  EXPECT_EQ(l[antes + 1].rfind("; Erro: ", 0), 0u) << l[antes + 1];
  EXPECT_EQ(l[antes + 1].find('\n'), std::string::npos);
}

TEST_F(OrvWsTest, AFailedUserQueryLeavesNoSession) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  banco_.Executar("ALTER TABLE TAB_USUARIO DROP FLG_MULT_LOJA");
  // The lookup is kept prepared on its connection; on a new connection it is prepared against
  // the table as it now is, and fails.
  dm_.ScnGestao().Close();
  const auto linhas = LogLines(*log_).size();
  EXPECT_THROW(Ws("10.0.0.1").Auth(kChave, "ANA"), std::exception);
  EXPECT_FALSE(dm_.CdsAuth().Localizar("10.0.0.1").has_value());
  EXPECT_EQ(LogLines(*log_).size(), linhas);  // no log line for the failed call
  EXPECT_EQ(Ws("10.0.0.1").GetSQL(""), "");
}

TEST_F(OrvWsTest, AFailedLoginLeavesNoSession) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.2").Auth(kChave, "ANA"));
  // A name the client layer cannot put into a login: the user's connection does not open.
  const auto linhas = LogLines(*log_).size();
  EXPECT_THROW(Ws("10.0.0.2").Auth(kChave, "a \"b"), std::exception);
  EXPECT_FALSE(dm_.CdsAuth().Localizar("10.0.0.2").has_value());
  EXPECT_EQ(LogLines(*log_).size(), linhas);
  EXPECT_EQ(Ws("10.0.0.2").Exec("DELETE FROM TAB_PRODUTO"), "");
  // Nothing registered: names whose login fails never grow the registry; a later Auth of the
  // same name tries the login again.
  EXPECT_FALSE(dm_.ConexaoRegistrada("a \"b"));
  const auto conexoes = dm_.QuantidadeConexoes();
  EXPECT_THROW(Ws("10.0.0.2").Auth(kChave, "a \"b"), std::exception);
  EXPECT_EQ(dm_.QuantidadeConexoes(), conexoes);
}

TEST_F(OrvWsTest, EmptyAddressIsAnAddressLikeAnyOther) {
  CarregarDados();
  ASSERT_TRUE(Ws("").Auth(kChave, "ANA"));
  EXPECT_EQ(dm_.CdsAuth().Localizar("")->DES_IP, "");
  EXPECT_NE(Ws("").GetSQL("GETUSUARIOS"), "");
  EXPECT_EQ(Ws("10.0.0.1").GetSQL("GETUSUARIOS"), "");
}

// ---- GetSQL ---------------------------------------------------------------------------------

TEST_F(OrvWsTest, GetSqlWithoutSessionIsRefused) {
  EXPECT_EQ(Ws("10.0.0.7").GetSQL(""), "");
  EXPECT_EQ(UltimaLinha(),
            "Coletor(10.0.0.7) acesso negado ao processo de baixar as pesquisas, cliente não "
            "autenticado!");
  EXPECT_EQ(log_->Indicadores().NumRequisicoes, 1);
}

TEST_F(OrvWsTest, GetSqlFullDownloadOfAStoreBoundUser) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  const std::string senha = orv::service::Literal(orv::util::CifrarTexto("a$b"));
  EXPECT_EQ(Ws("10.0.0.1").GetSQL(""),
            "INSERT OR REPLACE INTO TAB_PESQUISA_HEADER (COD_PESQUISA_HEADER, DES_PESQUISA_HEADER, "
            "DTA_INICIO, DTA_TERMINO) VALUES (7, 'Semana 1', '2014-09-01 00:00:00', "
            "'2099-09-30 00:00:00');"
            "INSERT OR REPLACE INTO TAB_PESQUISA (COD_PESQUISA, COD_PESQUISA_HEADER, COD_LOJA, "
            "DES_PESQUISA) VALUES (2, 7, 1, 'Mercado D''Oro');"
            "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES ('124', "
            "'FEIJÃO 1KG');"
            "INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES ('124', "
            "'7890000000017');"
            "INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES ('124', "
            "'7890000000024');"
            "INSERT OR REPLACE INTO TAB_PRODUTO_PESQUISA (COD_PRODUTO, COD_PESQUISA, "
            "COD_PESQUISA_HEADER, VAL_PESQUISA, DTA_PESQUISA) VALUES ('124', 2, 7, 3.5, "
            "'2014-09-02 10:20:30');"
            "DELETE FROM TAB_USUARIO_COLETOR;"
            "INSERT INTO TAB_USUARIO_COLETOR (COD_USUARIO, COD_LOJA, DES_USUARIO, DES_SENHA, "
            "FLG_MULT_LOJA) VALUES (3, 1, 'ANA', " +
                senha + ",'N');");
  EXPECT_EQ(UltimaLinha(), "Coletor(10.0.0.1 como ANA) executou processo de baixar as pesquisas!");
}

TEST_F(OrvWsTest, GetSqlOfAMultiStoreUserHasEveryStore) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.2").Auth(kChave, "BETO"));
  const std::string s = Ws("10.0.0.2").GetSQL("qualquer");
  EXPECT_NE(s.find("VALUES (2, 7, 1, 'Mercado D''Oro');"), std::string::npos);
  EXPECT_NE(s.find("VALUES (3, 7, 2, 'Loja Dois');"), std::string::npos);
  EXPECT_NE(s.find("VALUES ('125', 'CAFÉ');"), std::string::npos);
  EXPECT_NE(s.find("VALUES ('125', 3, 7, 12, '2014-09-03 08:00:00');"), std::string::npos);
  EXPECT_EQ(s.find("Antiga"), std::string::npos);  // not running
  EXPECT_EQ(s.find("Velha"), std::string::npos);
  EXPECT_EQ(s.find('\n'), std::string::npos);
}

TEST_F(OrvWsTest, GetSqlUsersOnly) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  const std::string usuarios = Ws("10.0.0.1").GetSQL("GETUSUARIOS");
  EXPECT_EQ(usuarios.rfind("DELETE FROM TAB_USUARIO_COLETOR;INSERT INTO TAB_USUARIO_COLETOR", 0), 0u);
  for (const char* v : {"getusuarios", "GetUsuarios"}) EXPECT_EQ(Ws("10.0.0.1").GetSQL(v), usuarios);
  for (const char* v : {" GETUSUARIOS", "GETUSUARIOS ", "GETUSUÁRIOS"})
    EXPECT_NE(Ws("10.0.0.1").GetSQL(v).find("TAB_PESQUISA_HEADER"), std::string::npos) << v;
}

TEST_F(OrvWsTest, GetSqlWithNothingRunningIsTheDeleteAlone) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  banco_.Executar("UPDATE TAB_PESQUISA_HEADER SET DTA_TERMINO = '2014-12-31'");
  banco_.Executar("UPDATE TAB_USUARIO SET FLG_COLE_WIFI = 'N'");
  EXPECT_EQ(Ws("10.0.0.1").GetSQL(""), "DELETE FROM TAB_USUARIO_COLETOR;");
}

TEST_F(OrvWsTest, CollectorLinesOfTheWorkedExamples) {
  // The row formats on rows given by the database itself.
  auto& con = banco_.Admin();
  orv::data::SqlQuery q(con);
  struct Case {
    orv::service::Secao secao;
    const char* select;
    const char* esperado;
  } cases[] = {
      {orv::service::Secao::kPesquisas,
       "SELECT 7 AS COD_PESQUISA_HEADER, 'Semana 1' AS DES_PESQUISA_HEADER, "
       "CAST('2014-09-01' AS TIMESTAMP) AS DTA_INICIO, CAST('2014-09-30' AS TIMESTAMP) AS "
       "DTA_TERMINO FROM RDB$DATABASE",
       "INSERT OR REPLACE INTO TAB_PESQUISA_HEADER (COD_PESQUISA_HEADER, DES_PESQUISA_HEADER, "
       "DTA_INICIO, DTA_TERMINO) VALUES (7, 'Semana 1', '2014-09-01 00:00:00', '2014-09-30 "
       "00:00:00');"},
      {orv::service::Secao::kPrecos,
       "SELECT '9' AS COD_PRODUTO, 2 AS COD_PESQUISA, 7 AS COD_PESQUISA_HEADER, "
       "CAST(3.5 AS NUMERIC(15,2)) AS VAL_PESQUISA, CAST(NULL AS TIMESTAMP) AS DTA_PESQUISA "
       "FROM RDB$DATABASE",
       "INSERT OR REPLACE INTO TAB_PRODUTO_PESQUISA (COD_PRODUTO, COD_PESQUISA, "
       "COD_PESQUISA_HEADER, VAL_PESQUISA, DTA_PESQUISA) VALUES ('9', 2, 7, 3.5, '1899-12-30 "
       "00:00:00');"},
      {orv::service::Secao::kUsuarios,
       "SELECT 3 AS COD_USUARIO, 1 AS COD_LOJA, 'ANA' AS DES_USUARIO, '' AS DES_SENHA, 'N' AS "
       "FLG_MULT_LOJA FROM RDB$DATABASE",
       "INSERT INTO TAB_USUARIO_COLETOR (COD_USUARIO, COD_LOJA, DES_USUARIO, DES_SENHA, "
       "FLG_MULT_LOJA) VALUES (3, 1, 'ANA', '','N');"},
      {orv::service::Secao::kProdutos,
       "SELECT '1''2' AS COD_PRODUTO, 'O''BRIEN' AS DES_PRODUTO FROM RDB$DATABASE",
       "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES ('1''2', "
       "'O''BRIEN');"},
  };
  for (const auto& c : cases) {
    q.SetSql({c.select});
    q.Open();
    q.First();
    std::string out;
    orv::service::AppendLinha(out, c.secao, q);
    EXPECT_EQ(out, c.esperado);
    q.Close();
  }
}

// ---- Exec -----------------------------------------------------------------------------------

TEST_F(OrvWsTest, ExecRunsEachStatementOnItsOwn) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  banco_.Executar("CREATE TABLE A (B INTEGER NOT NULL PRIMARY KEY)");
  banco_.Executar("GRANT ALL ON A TO PUBLIC");

  // A line may span several lines of the file (the statement's CR LF, the database's line
  // feeds): the log table has one row per line written.
  const auto antes = log_->RowCount();
  EXPECT_EQ(Ws("10.0.0.1").Exec("INSERT INTO A VALUES (1);INSERT INTO A VALUES (2);"),
            "true;\r\ntrue;\r\n");
  ASSERT_EQ(log_->RowCount(), antes + 1);
  EXPECT_EQ(log_->Row(antes).DES_LOG,
            "Coletor(10.0.0.1 como ANA) executou processo de atualização de "
            "pesquisas(2 Querie(s) executada(s) com sucesso)!");

  // The failing middle statement does not stop the batch; the others are committed.
  EXPECT_EQ(Ws("10.0.0.1").Exec("INSERT INTO A VALUES (3);INSERT INTO A VALUES (1);"
                                "INSERT INTO A VALUES (4)"),
            "true;\r\nfalse;\r\ntrue;\r\n");
  ASSERT_EQ(log_->RowCount(), antes + 3);
  const std::string erro = log_->Row(antes + 1).DES_LOG;
  EXPECT_EQ(erro.rfind("Coletor(10.0.0.1 como ANA) executando processo de atualização de "
                       "pesquisas. Erro ao executar a Query: INSERT INTO A VALUES (1)\r\n; Erro: "
                       "violation of PRIMARY or UNIQUE KEY constraint",
                       0),
            0u)
      << erro;
  EXPECT_EQ(log_->Row(antes + 2).DES_LOG,
            "Coletor(10.0.0.1 como ANA) executou processo de atualização de pesquisas(2 "
            "Querie(s) executada(s) com sucesso de 3, analise o(s) log(s) acima deste)!");
  // The whole batch's line shows the batch's duration, the error line its statement's.
  const std::string arquivo = orv::util::AnsiToUtf8(ReadWholeFile(log_->CaminhoArquivo()));
  EXPECT_NE(arquivo.find("INSERT INTO A VALUES (1)\r\n; Erro: "), std::string::npos);
  EXPECT_EQ(banco_.Contar("SELECT COUNT(*) AS N FROM A"), 4);
  // Three lines written in three steps, each counted.
  EXPECT_EQ(log_->Indicadores().NumRequisicoes, 1 + 1 + 2);
}

TEST_F(OrvWsTest, ExecPiecesAndEdgeCases) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  banco_.Executar("CREATE TABLE A (B VARCHAR(10))");
  banco_.Executar("GRANT ALL ON A TO PUBLIC");
  struct Case {
    std::string entrada, resultado, resumo;
  } cases[] = {
      {"", "", "0 Querie(s) executada(s) com sucesso"},
      {";;  ;\r\n\t;", "", "0 Querie(s) executada(s) com sucesso"},
      {std::string(4'000'000, ';'), "", "0 Querie(s) executada(s) com sucesso"},
      {"UPDATE A SET B = 'x;y'", "false;\r\nfalse;\r\n",
       "0 Querie(s) executada(s) com sucesso de 2, analise o(s) log(s) acima deste"},
      {"INSERT INTO A VALUES ('sem ponto')", "true;\r\n", "1 Querie(s) executada(s) com sucesso"},
      {"INSERT INTO A VALUES ('ção')", "true;\r\n", "1 Querie(s) executada(s) com sucesso"},
      {"INSERT INTO A VALUES (:X)", "false;\r\n",
       "0 Querie(s) executada(s) com sucesso de 1, analise o(s) log(s) acima deste"},
      {"isto não é SQL", "false;\r\n",
       "0 Querie(s) executada(s) com sucesso de 1, analise o(s) log(s) acima deste"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Ws("10.0.0.1").Exec(c.entrada), c.resultado) << c.entrada;
    EXPECT_EQ(UltimaLinha(), "Coletor(10.0.0.1 como ANA) executou processo de atualização de "
                             "pesquisas(" + c.resumo + ")!")
        << c.entrada;
  }
  EXPECT_EQ(banco_.Contar("SELECT COUNT(*) AS N FROM A WHERE B = 'ção'"), 1);
}

TEST_F(OrvWsTest, ExecWithoutSessionIsRefused) {
  EXPECT_EQ(Ws("10.0.0.8").Exec("DELETE FROM TAB_PRODUTO"), "");
  EXPECT_EQ(UltimaLinha(),
            "Coletor(10.0.0.8) acesso negado ao processo de atualização de pesquisas, cliente não "
            "autenticado!");
}

// ---- AddItemPesquisa ------------------------------------------------------------------------

TEST_F(OrvWsTest, AddItemPesquisaWorkedExampleAndDuplicate) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  EXPECT_EQ(Ws("10.0.0.1").AddItemPesquisa(7, 2, "7891234567895", 4.99f),
            "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES ('123', 'ARROZ "
            "5KG');INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES ('123', "
            "'7891234567895');UPDATE TAB_PRODUTO_PESQUISA SET COD_PRODUTO = '123',  "
            "FLG_SINCRONIZADO = 'S',  FLG_NAO_EX_PESQ = 'N',  FLG_NAO_EX_EAN = 'N',  "
            "FLG_NAO_EX_PROD = 'N' WHERE COD_BARRA_COLETADO = '7891234567895' AND "
            "COD_PESQUISA_HEADER = 7 AND COD_PESQUISA = 2;");
  EXPECT_EQ(UltimaLinha(),
            "Coletor(10.0.0.1 como ANA)  adicionou um item a Pesquisa de Preços de código 7, "
            "Concorrente de código 2: Produto de código 123 com o código de barras 7891234567895");
  EXPECT_EQ(banco_.Contar("SELECT COUNT(*) AS N FROM TAB_PRODUTO_PESQUISA WHERE COD_PESQUISA_HEADER = 7 "
                          "AND COD_PESQUISA = 2 AND COD_LOJA = 1 AND COD_PRODUTO = '123' AND "
                          "VAL_PESQUISA = 4.99"),
            1);

  EXPECT_EQ(Ws("10.0.0.1").AddItemPesquisa(7, 2, "7891234567895", 5.10f), "false");
  EXPECT_EQ(UltimaLinha(),
            "Coletor(10.0.0.1 como ANA)  tentou adicionar um item a Pesquisa de Preços de código "
            "7, Concorrente de código 2 , código do produto: 123 , código de barras: "
            "7891234567895 obteve o seguinte erro: Produto já existe na pesquisa");
}

TEST_F(OrvWsTest, AddItemPesquisaErrors) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  EXPECT_EQ(Ws("10.0.0.1").AddItemPesquisa(7, 2, "0000", 1.0f), "false");
  EXPECT_EQ(UltimaLinha(),
            "Coletor(10.0.0.1 como ANA)  tentou adicionar um item a Pesquisa de Preços de código "
            "7, Concorrente de código 2 , código de barras: 0000 obteve o seguinte erro: Não existe "
            "nenhum produto com o código de barras 0000");

  EXPECT_EQ(Ws("10.0.0.1").AddItemPesquisa(7, 99, "7891234567895", 1.0f), "false");
  EXPECT_EQ(UltimaLinha(),
            "Coletor(10.0.0.1 como ANA)  tentou adicionar um item a Pesquisa de Preços de código "
            "7, Concorrente de código 99 , código do produto: 123 , código de barras: "
            "7891234567895 obteve o seguinte erro: Pesquisa não encontrada");

  // Hostile and odd bar codes are values, never SQL.
  for (const std::string& ean : {std::string("' OR '1'='1"), std::string(""),
                                std::string("ção"), std::string(1 << 20, '7')}) {
    EXPECT_EQ(Ws("10.0.0.1").AddItemPesquisa(7, 2, ean, 1.0f), "false");
  }
  // Prices no price column can hold are refused, never bound.
  for (float v : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                  -std::numeric_limits<float>::infinity(), 1e30f, -2e13f}) {
    EXPECT_EQ(Ws("10.0.0.1").AddItemPesquisa(7, 2, "7891234567895", v), "false") << v;
    EXPECT_NE(UltimaLinha().find(" obteve o seguinte erro: "), std::string::npos);
  }
  EXPECT_EQ(UltimaLinha().rfind("Coletor(10.0.0.1 como ANA)  tentou adicionar", 0), 0u);
  EXPECT_EQ(Ws("10.0.0.1").AddItemPesquisa(7, 2, "7891234567895",
                                           std::numeric_limits<float>::quiet_NaN()),
            "false");
  EXPECT_EQ(UltimaLinha(),
            "Coletor(10.0.0.1 como ANA)  tentou adicionar um item a Pesquisa de Preços de código "
            "7, Concorrente de código 2 , código do produto: 123 , código de barras: "
            "7891234567895 obteve o seguinte erro: Valor de pesquisa inválido: NaN");
  EXPECT_EQ(banco_.Contar("SELECT COUNT(*) AS N FROM TAB_PRODUTO_PESQUISA WHERE COD_PRODUTO = '123'"),
            0);
  EXPECT_EQ(Ws("10.0.0.9").AddItemPesquisa(7, 2, "7891234567895", 1.0f), "");
  EXPECT_EQ(UltimaLinha(), "Coletor(10.0.0.9) acesso negado a inclusão de itens da pesquisa!");
}

TEST_F(OrvWsTest, AddItemPesquisaOfAProductWithTwoBarCodesAndAnApostrophe) {
  CarregarDados();
  banco_.Executar("UPDATE TAB_PRODUTO SET DES_PRODUTO = 'FEIJÃO D''ORO' WHERE COD_PRODUTO = 124");
  banco_.Executar("INSERT INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES (124, '78''9')");
  ASSERT_TRUE(Ws("10.0.0.2").Auth(kChave, "BETO"));
  const std::string r = Ws("10.0.0.2").AddItemPesquisa(7, 3, "78'9", 2.5f);
  // The bar codes come in the database's order, which the statement does not fix.
  const std::string produto =
      "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES ('124', 'FEIJÃO "
      "D''ORO');";
  const std::string atualizacao =
      "UPDATE TAB_PRODUTO_PESQUISA SET COD_PRODUTO = '124',  FLG_SINCRONIZADO = 'S',  "
      "FLG_NAO_EX_PESQ = 'N',  FLG_NAO_EX_EAN = 'N',  FLG_NAO_EX_PROD = 'N' WHERE "
      "COD_BARRA_COLETADO = '78''9' AND COD_PESQUISA_HEADER = 7 AND COD_PESQUISA = 3;";
  ASSERT_EQ(r.substr(0, produto.size()), produto);
  ASSERT_GE(r.size(), produto.size() + atualizacao.size());
  EXPECT_EQ(r.substr(r.size() - atualizacao.size()), atualizacao);
  std::string barras = r.substr(produto.size(), r.size() - produto.size() - atualizacao.size());
  std::size_t tamanho = 0;
  for (const char* ean : {"'7890000000017'", "'7890000000024'", "'78''9'"}) {
    const std::string linha =
        std::string("INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES ") +
        "('124', " + ean + ");";
    EXPECT_NE(barras.find(linha), std::string::npos) << ean;
    tamanho += linha.size();
  }
  EXPECT_EQ(barras.size(), tamanho);
}

// ---- Bad input and a lost database ----------------------------------------------------------

TEST_F(OrvWsTest, LargeAndOddInputsAreAnsweredNeverCrash) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  const std::string mega(1 << 20, 'x');
  EXPECT_EQ(Ws("10.0.0.1").Exec(mega), "false;\r\n");
  EXPECT_EQ(Ws("10.0.0.1").Exec(std::string(1 << 20, ';')), "");
  EXPECT_NE(Ws("10.0.0.1").GetSQL(mega).find("TAB_PESQUISA_HEADER"), std::string::npos);
  EXPECT_FALSE(Ws("10.0.0.1").Auth(mega, mega));
  EXPECT_FALSE(Ws("10.0.0.1").Auth("\xff\xfe", "ANA"));
  // A huge user name with the right key: no database login takes it; a clear error, no session.
  EXPECT_THROW(Ws("10.0.0.3").Auth(kChave, "ç" + mega), std::exception);
  EXPECT_FALSE(dm_.CdsAuth().Localizar("10.0.0.3").has_value());
  EXPECT_EQ(Ws("10.0.0.3").GetSQL("getusuarios"), "");
}

TEST_F(OrvWsTest, DatabaseFileRemovedGivesErrorsNotCrashes) {
  CarregarDados();
  ASSERT_TRUE(Ws("10.0.0.1").Auth(kChave, "ANA"));
  banco_.RemoverArquivo();
  // Whatever the engine still answers from its open attachment, each call either answers as
  // it should or raises an error with a message; a partial script is never returned.
  try {
    const std::string s = Ws("10.0.0.1").GetSQL("");
    EXPECT_NE(s.find("DELETE FROM TAB_USUARIO_COLETOR;"), std::string::npos);
  } catch (const std::exception& e) {
    EXPECT_STRNE(e.what(), "");
  }
  try {
    const std::string r = Ws("10.0.0.1").Exec("INSERT INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) "
                                              "VALUES (999, 'X')");
    EXPECT_TRUE(r == "true;\r\n" || r == "false;\r\n") << r;
  } catch (const std::exception& e) {
    EXPECT_STRNE(e.what(), "");
  }
}

// ---- Real logins on the Firebird server -----------------------------------------------------

TEST(OrvWsServidor, LoginsFollowThePasswordRuleAndARefusedLoginLeavesNoSession) {
  namespace tdb = orv::data::testdb;
  if (!tdb::ServerAvailable())
    GTEST_SKIP() << "no Firebird server on 127.0.0.1:3050 (scripts/fbserver.sh start)";
  const auto saved = orv::util::Regional();
  orv::util::SetRegional(orv::util::RegionalPtBR());
  orv::testing::TempFolder dir("orv_service_srv");
  tdb::PrepareServerFolder(dir.path());
  const std::string local = tdb::ServerLocation(dir.path() / "gestao.fdb");
  tdb::CreateSchemaDatabase(local);
  tdb::LoadFixture(local);

  // Logins of our own, unique to this run: one name of 6 or more characters, one shorter.
  const std::string sufixo = std::to_string(std::random_device{}() % 9000 + 1000);
  const std::string longo = "ORVCOL" + sufixo;
  const std::string curto = "K" + sufixo;
  const std::string filler(orv::service::kPreenchimentoSenha);
  auto admin = tdb::FirebirdConnection(local);
  admin->Open();
  const auto sql = [&](const std::string& text) {
    orv::data::SqlQuery q(*admin);
    q.SetSql({text});
    q.ExecSQL();
  };
  sql("CREATE OR ALTER USER " + longo + " PASSWORD '" + longo + "' USING PLUGIN Srp");
  sql("CREATE OR ALTER USER " + curto + " PASSWORD '" + curto + filler + "' USING PLUGIN Srp");
  {
    TDmDados dm;
    orv::data::ConfigConexao c;
    c.LocalGestao = local;
    dm.DataModuleCreate(c);
    orv::op::ActivityLogOptions o;
    o.PastaLogs = dir.str();
    orv::op::TActivityLog log(std::move(o));

    EXPECT_TRUE(TOrvWs({"10.2.0.1"}, dm, log).Auth(kChave, longo));
    EXPECT_TRUE(TOrvWs({"10.2.0.2"}, dm, log).Auth(kChave, curto));
    EXPECT_EQ(TOrvWs({"10.2.0.2"}, dm, log).Exec("UPDATE TAB_USUARIO SET COD_LOJA = COD_LOJA"),
              "true;\r\n");
    try {
      TOrvWs({"10.2.0.3"}, dm, log).Auth(kChave, "SEMLOGIN" + sufixo);
      ADD_FAILURE() << "login accepted";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find("user name and password are not defined"),
                std::string::npos)
          << e.what();
    }
    EXPECT_FALSE(dm.CdsAuth().Localizar("10.2.0.3").has_value());
    EXPECT_EQ(TOrvWs({"10.2.0.3"}, dm, log).GetSQL(""), "");
    EXPECT_EQ(dm.CdsAuth().RecordCount(), 2u);
  }
  sql("DROP USER " + longo);
  sql("DROP USER " + curto);
  admin->Close();
  orv::data::DropFirebirdDatabase(local, std::string(tdb::kSysdbaUser), std::string(tdb::kSysdbaPassword));
  orv::util::SetRegional(saved);
}

// ---- Many collectors at once ----------------------------------------------------------------

TEST_F(OrvWsTest, ConcurrentCollectorsEachSeeTheirOwnSession) {
  constexpr int kColetores = 32;
  banco_.Executar("DELETE FROM TAB_PRODUTO_PESQUISA");
  banco_.Executar("DELETE FROM TAB_PESQUISA");
  banco_.Executar("DELETE FROM TAB_PESQUISA_HEADER");
  banco_.Executar("DELETE FROM TAB_USUARIO");
  banco_.Executar("INSERT INTO TAB_PESQUISA_HEADER (COD_PESQUISA_HEADER, DES_PESQUISA_HEADER, "
                  "DTA_INICIO, DTA_TERMINO) VALUES (1, 'Geral', '2000-01-01', '2099-01-01')");
  for (int i = 1; i <= kColetores; ++i) {
    banco_.Executar("INSERT INTO TAB_USUARIO (COD_USUARIO, DES_USUARIO, COD_LOJA, FLG_MULT_LOJA, "
                    "FLG_COLE_WIFI) VALUES (" + std::to_string(i) + ", 'COLETOR" +
                    std::to_string(i) + "', " + std::to_string(100 + i) + ", 'N', 'N')");
    banco_.Executar("INSERT INTO TAB_PESQUISA (COD_PESQUISA, COD_PESQUISA_HEADER, COD_LOJA, "
                    "DES_PESQUISA) VALUES (" + std::to_string(i) + ", 1, " +
                    std::to_string(100 + i) + ", 'Entrada da loja " + std::to_string(100 + i) +
                    "')");
  }
  struct Resultado {
    bool auth = false;
    std::string sql, exec;
    std::vector<std::pair<double, double>> marcas;  // (start, duration) of each call's line
  };
  std::vector<Resultado> res(kColetores);
  std::vector<std::thread> threads;
  for (int i = 0; i < kColetores; ++i) {
    threads.emplace_back([&, i] {
      const std::string ip = "10.1.0." + std::to_string(i + 1);
      const std::string user = "COLETOR" + std::to_string(i + 1);
      try {
        {
          TOrvWs ws({ip}, dm_, *log_);
          res[i].auth = ws.Auth(kChave, user);
          res[i].marcas.emplace_back(ws.Marcas().DtaInicio(), ws.Marcas().TempoExecucao());
        }
        for (int k = 0; k < 3; ++k) {
          TOrvWs ws({ip}, dm_, *log_);
          res[i].sql = ws.GetSQL("");
          res[i].marcas.emplace_back(ws.Marcas().DtaInicio(), ws.Marcas().TempoExecucao());
        }
        TOrvWs ws({ip}, dm_, *log_);
        res[i].exec = ws.Exec("UPDATE TAB_USUARIO SET FLG_COLE_WIFI = 'N' WHERE COD_USUARIO = " +
                              std::to_string(i + 1));
        res[i].marcas.emplace_back(ws.Marcas().DtaInicio(), ws.Marcas().TempoExecucao());
      } catch (const std::exception& e) {
        ADD_FAILURE() << ip << ": " << e.what();
      }
    });
  }
  for (auto& t : threads) t.join();

  for (int i = 0; i < kColetores; ++i) {
    const std::string loja = std::to_string(101 + i);
    EXPECT_TRUE(res[i].auth);
    EXPECT_EQ(res[i].sql,
              "INSERT OR REPLACE INTO TAB_PESQUISA_HEADER (COD_PESQUISA_HEADER, "
              "DES_PESQUISA_HEADER, DTA_INICIO, DTA_TERMINO) VALUES (1, 'Geral', '2000-01-01 "
              "00:00:00', '2099-01-01 00:00:00');INSERT OR REPLACE INTO TAB_PESQUISA (COD_PESQUISA, "
              "COD_PESQUISA_HEADER, COD_LOJA, DES_PESQUISA) VALUES (" +
                  std::to_string(i + 1) + ", 1, " + loja + ", 'Entrada da loja " + loja +
                  "');DELETE FROM TAB_USUARIO_COLETOR;")
        << i;
    EXPECT_EQ(res[i].exec, "true;\r\n");
  }
  // One whole line per operation, each with the marks of the call that wrote it.
  const auto linhas = LogLines(*log_);
  ASSERT_EQ(linhas.size(), static_cast<std::size_t>(kColetores * 5));
  EXPECT_EQ(log_->Indicadores().NumRequisicoes, kColetores * 5);
  for (int i = 0; i < kColetores; ++i) {
    const std::string ip = "10.1.0." + std::to_string(i + 1);
    std::vector<std::string> minhas;
    for (const auto& l : linhas)
      if (l.find("Coletor(" + ip + " ") != std::string::npos) minhas.push_back(l);
    ASSERT_EQ(minhas.size(), 5u) << ip;
    for (std::size_t k = 0; k < 5; ++k) {
      const std::string esperado =
          orv::util::FormatarDataHora("dd/mm/yyyy tt.zzz", res[i].marcas[k].first) + "(" +
          orv::util::FormatarDataHora("tt.zzz", res[i].marcas[k].second) + "), Coletor(" + ip +
          " como COLETOR" + std::to_string(i + 1) + ") ";
      EXPECT_EQ(minhas[k].rfind(esperado, 0), 0u) << minhas[k] << "\n" << esperado;
    }
  }
}

}  // namespace
