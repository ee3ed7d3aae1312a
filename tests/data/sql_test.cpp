// The SQL client layer against a real embedded Firebird database built from db/.
#include "data/sql.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <chrono>
#include <thread>

#include <soci/firebird/soci-firebird.h>
#include <soci/soci.h>

#include "data/data_limits.h"
#include "data/process_end.h"
#include "data/test_db.h"
#include "support/temp_folder.h"
#include "util/datetime.h"
#include "util/regional.h"

namespace orv::data {
namespace {

class SqlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new testing::TempFolder;
    database_ = testdb::CreateTestDatabase(folder_->path());
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override { util::SetRegional(util::RegionalPtBR()); }
  void TearDown() override { util::SetRegional(util::RegionalC()); }

  static std::unique_ptr<SqlConnection> Connect() {
    return testdb::FirebirdConnection(database_);
  }
  static void Exec(SqlConnection& c, const std::string& sql) {
    SqlQuery q(c);
    q.SetSql({sql});
    q.ExecSQL();
  }
  static std::string One(SqlConnection& c, const std::string& sql, const std::string& column) {
    SqlQuery q(c);
    q.SetSql({sql});
    q.Open();
    return q.FieldAsString(column);
  }
  static testing::TempFolder* folder_;
  static std::string database_;
};
testing::TempFolder* SqlTest::folder_ = nullptr;
std::string SqlTest::database_;

constexpr const char* kOpenTransactions =
    "SELECT COUNT(*) AS N FROM MON$TRANSACTIONS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION";

// Each statement is committed on its own: a second connection sees every row at once, and
// after any statement (also a SELECT, also a failed one) the first holds no transaction
// besides the one that asks.
TEST_F(SqlTest, EveryStatementIsCommittedOnItsOwn) {
  auto a = Connect();
  auto b = Connect();
  Exec(*a, "CREATE TABLE COMMIT_T (ID INTEGER NOT NULL PRIMARY KEY)");
  EXPECT_EQ(One(*b, "SELECT COUNT(*) AS N FROM COMMIT_T", "N"), "0");
  for (int i = 1; i <= 3; ++i) {
    SqlQuery q(*a);
    q.SetSql({"INSERT INTO COMMIT_T (ID) VALUES (:ID)"});
    q.ParamAsInteger("ID", i);
    q.ExecSQL();
    EXPECT_EQ(One(*b, "SELECT COUNT(*) AS N FROM COMMIT_T", "N"), std::to_string(i));
    EXPECT_EQ(One(*a, kOpenTransactions, "N"), "1");
  }
  EXPECT_THROW(Exec(*a, "INSERT INTO COMMIT_T (ID) VALUES (1)"), SqlError);
  EXPECT_EQ(One(*a, kOpenTransactions, "N"), "1");
  // Had the failed insert kept its transaction, this update would wait for it for ever.
  Exec(*b, "UPDATE COMMIT_T SET ID = 10 WHERE ID = 1");
  EXPECT_EQ(One(*a, "SELECT COUNT(*) AS N FROM COMMIT_T WHERE ID = 10", "N"), "1");
}

TEST_F(SqlTest, ErrorCarriesTheDatabaseMessageOnly) {
  auto c = Connect();
  SqlQuery q(*c);
  q.SetSql({"INSERT INTO TAB_PRODUTO_PESQUISA (COD_PESQUISA_HEADER, COD_PESQUISA, COD_LOJA,",
            " COD_PRODUTO, VAL_PESQUISA) VALUES (8, 1, 1, '124', 1)"});
  try {
    q.ExecSQL();
    FAIL() << "duplicate key accepted";
  } catch (const SqlError& e) {
    const std::string m = e.what();
    EXPECT_EQ(m.rfind("violation of PRIMARY or UNIQUE KEY constraint \"PK_PRODUTO_PESQUISA\"", 0),
              0u)
        << m;
    EXPECT_EQ(m.find("while executing"), std::string::npos) << m;
  }
  q.SetSql({"SELECT NOPE FROM TAB_PRODUTO"});
  try {
    q.Open();
    FAIL();
  } catch (const SqlError& e) {
    EXPECT_NE(std::string(e.what()).find("NOPE"), std::string::npos) << e.what();
  }
}

// Columns by name in any ASCII case, typed reads, nulls, decimals in the host's way.
TEST_F(SqlTest, ReadsColumnsByNameWithTypesAndNulls) {
  auto c = Connect();
  SqlQuery q(*c);
  q.SetSql({"SELECT P.COD_PRODUTO, P.DES_PRODUTO, PP.VAL_PESQUISA, PP.DTA_PESQUISA,",
            " PP.COD_LOJA, CAST(PP.COD_LOJA AS BIGINT) AS BIG, CAST('N' AS CHAR(3)) AS PAD,",
            " CAST(2.5 AS DOUBLE PRECISION) AS DBL, H.DTA_INICIO",
            "FROM TAB_PRODUTO_PESQUISA PP",
            "JOIN TAB_PRODUTO P ON P.COD_PRODUTO = PP.COD_PRODUTO",
            "JOIN TAB_PESQUISA_HEADER H ON H.COD_PESQUISA_HEADER = PP.COD_PESQUISA_HEADER",
            "WHERE PP.COD_PESQUISA_HEADER = 8 ORDER BY PP.COD_PRODUTO"});
  q.Open();
  ASSERT_EQ(q.RowCount(), 4u);
  // 124 FEIJÃO PRETO 1KG, 3.50 at 2024-03-04 09:15:00, store 1
  EXPECT_EQ(q.FieldAsString("cod_produto"), "124");
  EXPECT_EQ(q.FieldAsString("Des_Produto"), "FEIJÃO PRETO 1KG");
  EXPECT_EQ(q.FieldAsString("VAL_PESQUISA"), "3,5");
  EXPECT_EQ(q.FieldAsInteger("COD_LOJA"), 1);
  EXPECT_EQ(q.FieldAsString("COD_LOJA"), "1");
  EXPECT_EQ(q.FieldAsInteger("BIG"), 1);
  EXPECT_EQ(q.FieldAsString("PAD"), "N  ");  // fixed-width text keeps its blanks
  EXPECT_EQ(q.FieldAsString("DBL"), "2,5");
  EXPECT_EQ(q.FieldAsInteger("COD_PRODUTO"), 124);
  EXPECT_DOUBLE_EQ(q.FieldAsDateTime("DTA_PESQUISA"),
                   util::EncodeDateTime({2024, 3, 4, 9, 15, 0, 0}));
  EXPECT_DOUBLE_EQ(q.FieldAsDateTime("DTA_INICIO"), util::EncodeDateTime({2000, 1, 1}));
  EXPECT_EQ(q.FieldAsString("DTA_PESQUISA"), "04/03/2024 09:15:00");
  util::SetRegional(util::RegionalC());
  EXPECT_EQ(q.FieldAsString("VAL_PESQUISA"), "3.5");
  util::SetRegional(util::RegionalPtBR());

  q.Next();  // 125 at 12.90
  EXPECT_EQ(q.FieldAsString("VAL_PESQUISA"), "12,9");
  q.Next();
  q.Next();  // 127: no price and no date yet
  EXPECT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldAsString("VAL_PESQUISA"), "");
  EXPECT_EQ(q.FieldAsInteger("VAL_PESQUISA"), 0);
  EXPECT_EQ(q.FieldAsDateTime("DTA_PESQUISA"), 0.0);
  q.Next();
  EXPECT_TRUE(q.Eof());
  EXPECT_EQ(q.FieldAsString("COD_PRODUTO"), "127");  // the last row stays current

  EXPECT_THROW(q.FieldAsString("NO_SUCH_COLUMN"), SqlError);
  EXPECT_THROW(q.FieldAsInteger("DES_PRODUTO"), SqlError);   // not a number
  EXPECT_THROW(q.FieldAsDateTime("DES_PRODUTO"), SqlError);
  q.First();
  EXPECT_EQ(q.FieldAsString("COD_PRODUTO"), "124");
  q.Close();
  EXPECT_THROW(q.FieldAsString("COD_PRODUTO"), SqlError);
}

TEST_F(SqlTest, EmptyResultReadsAsNullsAndIsAtEnd) {
  auto c = Connect();
  SqlQuery q(*c);
  q.SetSql({"SELECT COD_USUARIO, DES_USUARIO FROM TAB_USUARIO WHERE DES_USUARIO = :N"});
  q.ParamAsString("N", "NINGUEM");
  q.Open();
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_TRUE(q.Eof());
  EXPECT_EQ(q.FieldAsInteger("COD_USUARIO"), 0);
  EXPECT_EQ(q.FieldAsString("DES_USUARIO"), "");
}

// Parameters by name in any case, as text, 32-bit integer and float; a name may repeat; a
// colon inside a literal is no parameter; a missing value is an error, not a silent null.
TEST_F(SqlTest, BindsNamedParameters) {
  auto c = Connect();
  Exec(*c, "CREATE TABLE PARAM_T (ID INTEGER, NOME VARCHAR(40), VAL NUMERIC(15,2), "
           "F DOUBLE PRECISION, HORA VARCHAR(10))");
  SqlQuery q(*c);
  q.SetSql({"INSERT INTO PARAM_T (ID, NOME, VAL, F, HORA)",
            "VALUES (:ID, :Nome, :VAL, :val, '10:30')"});
  q.ParamAsInteger("id", -2147483647 - 1);
  q.ParamAsString("NOME", "Café d'Ouro ação");
  q.ParamAsFloat("VAL", 3.49f);
  q.ExecSQL();

  q.SetSql({"SELECT ID, NOME, VAL, F, HORA FROM PARAM_T WHERE NOME = :NOME AND ID < :ID"});
  q.ParamAsInteger("ID", 0);
  q.Open();
  ASSERT_EQ(q.RowCount(), 1u);
  EXPECT_EQ(q.FieldAsInteger("ID"), -2147483647 - 1);
  EXPECT_EQ(q.FieldAsString("NOME"), "Café d'Ouro ação");
  EXPECT_EQ(q.FieldAsString("VAL"), "3,49");
  EXPECT_EQ(q.FieldAsString("F"), "3,49000000953674");  // the float as received, not rounded
  EXPECT_EQ(q.FieldAsString("HORA"), "10:30");

  q.SetSql({"SELECT ID FROM PARAM_T WHERE ID = :MISSING"});
  try {
    q.Open();
    FAIL();
  } catch (const SqlError& e) {
    EXPECT_STREQ(e.what(), "No value for parameter 'MISSING'");
  }
}

TEST_F(SqlTest, SqlTextAndNavigation) {
  auto c = Connect();
  SqlQuery q(*c);
  q.SetSql({"SELECT COD_EAN", "FROM TAB_CODIGO_BARRA"});
  q.AddLine("WHERE COD_PRODUTO = '126' ORDER BY COD_EAN");
  EXPECT_EQ(q.SqlText(),
            "SELECT COD_EAN\r\nFROM TAB_CODIGO_BARRA\r\nWHERE COD_PRODUTO = '126' ORDER BY "
            "COD_EAN\r\n");
  q.Open();
  std::vector<std::string> eans;
  for (q.First(); !q.Eof(); q.Next()) eans.push_back(q.FieldAsString("COD_EAN"));
  EXPECT_EQ(eans, (std::vector<std::string>{"17891000100100", "7891000100103"}));
  q.ClearSql();
  EXPECT_EQ(q.SqlText(), "");
  EXPECT_THROW(q.Open(), SqlError);
}

TEST_F(SqlTest, BatchRunsInOneTransactionAndFailsWhole) {
  auto c = Connect();
  Exec(*c, "CREATE TABLE BATCH_T (ID INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(20), "
           "V NUMERIC(9,2), D TIMESTAMP)");
  SqlQuery q(*c);
  q.SetSql({"INSERT INTO BATCH_T (ID, NOME, V, D) VALUES (:ID, :NOME, :V, :D)"});
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 1000; ++i)
    rows.push_back({std::to_string(i), "nome ç " + std::to_string(i), "1.25",
                    "2024-05-06 07:08:09"});
  q.ExecBatch(rows);
  EXPECT_EQ(One(*c, "SELECT COUNT(*) AS N, SUM(V) AS S FROM BATCH_T", "N"), "1000");
  EXPECT_EQ(One(*c, "SELECT NOME FROM BATCH_T WHERE ID = 7", "NOME"), "nome ç 7");

  std::vector<std::vector<std::string>> clash = {{"5000", "a", "1", "2024-01-01"},
                                                 {"1", "dup", "1", "2024-01-01"}};
  EXPECT_THROW(q.ExecBatch(clash), SqlError);
  EXPECT_EQ(One(*c, "SELECT COUNT(*) AS N FROM BATCH_T WHERE ID = 5000", "N"), "0");
  EXPECT_THROW(q.ExecBatch({{"1", "2"}}), SqlError);  // one value short
}

// Several connections work in parallel, and one connection shared by many threads serialises
// its statements without losing or mixing any.
TEST_F(SqlTest, ParallelConnectionsAndASharedConnection) {
  {
    auto setup = Connect();
    Exec(*setup, "CREATE TABLE PAR_T (T INTEGER, I INTEGER)");
  }
  constexpr int kThreads = 8;
  constexpr int kRows = 40;
  auto shared = Connect();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      try {
        auto own = Connect();
        SqlConnection& use = (t % 2 == 0) ? *own : *shared;
        for (int i = 0; i < kRows; ++i) {
          SqlQuery q(use);
          q.SetSql({"INSERT INTO PAR_T (T, I) VALUES (:T, :I)"});
          q.ParamAsInteger("T", t);
          q.ParamAsInteger("I", i);
          q.ExecSQL();
          q.SetSql({"SELECT COUNT(*) AS N FROM PAR_T WHERE T = :T"});
          q.Open();
          if (q.FieldAsInteger("N") != i + 1) ++failures;
        }
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  auto check = Connect();
  EXPECT_EQ(One(*check, "SELECT COUNT(*) AS N FROM PAR_T", "N"), std::to_string(kThreads * kRows));
}

// A statement kept prepared runs again with new values, each run committed on its own like any
// other; a failed run does not poison the next; the connection keeps a bounded number of them.
TEST_F(SqlTest, KeptStatementsRunAgainWithNewValues) {
  auto a = Connect();
  auto b = Connect();
  Exec(*a, "CREATE TABLE KEEP_T (ID INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(8))");
  auto insert = [&](int id, const std::string& nome) {
    SqlQuery q(*a);
    q.SetKeepPrepared(true);
    q.SetSql({"INSERT INTO KEEP_T (ID, NOME) VALUES (:ID, :NOME)"});
    q.ParamAsInteger("ID", id);
    q.ParamAsString("NOME", nome);
    q.ExecSQL();
  };
  auto nome_of = [&](int id) {
    SqlQuery q(*a);
    q.SetKeepPrepared(true);
    q.SetSql({"SELECT NOME FROM KEEP_T WHERE ID = :ID"});
    q.ParamAsInteger("ID", id);
    q.Open();
    return q.IsEmpty() ? std::string("(none)") : q.FieldAsString("NOME");
  };
  for (int i = 1; i <= 5; ++i) {
    insert(i, "n\xc3\xa3o" + std::to_string(i));
    EXPECT_EQ(One(*b, "SELECT COUNT(*) AS N FROM KEEP_T", "N"), std::to_string(i));
    EXPECT_EQ(nome_of(i), "n\xc3\xa3o" + std::to_string(i));
    EXPECT_EQ(One(*a, kOpenTransactions, "N"), "1");
  }
  EXPECT_EQ(nome_of(99), "(none)");
  // Failures of the kept insert (a duplicate key, a text longer than its column), then success.
  EXPECT_THROW(insert(1, "x"), SqlError);
  EXPECT_THROW(insert(6, "123456789"), SqlError);
  insert(6, "seis");
  EXPECT_EQ(nome_of(6), "seis");
  // Another connection's change is seen by the kept query's next run.
  Exec(*b, "UPDATE KEEP_T SET NOME = 'outro' WHERE ID = 2");
  EXPECT_EQ(nome_of(2), "outro");
  // Closing the connection ends its statements; the next run prepares again.
  a->Close();
  EXPECT_EQ(nome_of(3), "n\xc3\xa3o3");
  // A kept statement reads the table as it was defined when prepared, until its age is up.
  Exec(*b, "ALTER TABLE KEEP_T ALTER COLUMN NOME TO APELIDO");
  EXPECT_EQ(nome_of(3), "n\xc3\xa3o3");
  a->SetKeptStatementMaxAge(std::chrono::milliseconds(0));
  EXPECT_THROW(nome_of(3), SqlError);
  a->SetKeptStatementMaxAge(kKeptStatementMaxAge);

  // Many different kept texts: each answers for itself, and only the most recent are kept.
  for (int i = 0; i < static_cast<int>(kMaxKeptStatements) * 2; ++i) {
    SqlQuery q(*a);
    q.SetKeepPrepared(true);
    q.SetSql({"SELECT " + std::to_string(i) + " AS N FROM RDB$DATABASE"});
    q.Open();
    EXPECT_EQ(q.FieldAsInteger("N"), i);
  }
  const int statements = std::stoi(One(*a,
      "SELECT COUNT(*) AS N FROM MON$STATEMENTS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION",
      "N"));
  EXPECT_GE(statements, 2);
  EXPECT_LE(statements, static_cast<int>(kMaxKeptStatements) + 1);
}

// A query marked read-only runs in a read-only transaction, kept prepared or not, sees what
// others committed, and cannot write; the next statement on the connection writes again.
TEST_F(SqlTest, ReadOnlyQueriesRunInReadOnlyTransactions) {
  auto a = Connect();
  auto b = Connect();
  Exec(*b, "CREATE TABLE RO_T (ID INTEGER NOT NULL PRIMARY KEY)");
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "kept prepared" : "prepared each time");
    auto read_only_flag = [&](bool read_only) {
      SqlQuery q(*a);
      q.SetKeepPrepared(keep);
      q.SetReadOnly(read_only);
      q.SetSql({"SELECT MON$READ_ONLY AS R FROM MON$TRANSACTIONS "
                "WHERE MON$TRANSACTION_ID = CURRENT_TRANSACTION"});
      q.Open();
      return q.FieldAsInteger("R");
    };
    EXPECT_EQ(read_only_flag(true), 1);
    EXPECT_EQ(read_only_flag(false), 0);
    SqlQuery w(*a);
    w.SetKeepPrepared(keep);
    w.SetReadOnly(true);
    w.SetSql({"INSERT INTO RO_T (ID) VALUES (:ID)"});
    w.ParamAsInteger("ID", keep ? 1 : 2);
    EXPECT_THROW(w.ExecSQL(), SqlError);
    w.SetReadOnly(false);
    w.ExecSQL();
    EXPECT_EQ(One(*a, kOpenTransactions, "N"), "1");
  }
  SqlQuery count(*a);
  count.SetReadOnly(true);
  count.SetSql({"SELECT COUNT(*) AS N FROM RO_T"});
  count.Open();
  EXPECT_EQ(count.FieldAsInteger("N"), 2);
}

TEST_F(SqlTest, OpensOnFirstUseAndOpenCloseAreIdempotent) {
  auto c = Connect();
  EXPECT_FALSE(c->IsOpen());
  EXPECT_EQ(One(*c, "SELECT COUNT(*) AS N FROM TAB_USUARIO", "N"), "4");
  EXPECT_TRUE(c->IsOpen());
  c->Open();
  c->Close();
  c->Close();
  EXPECT_FALSE(c->IsOpen());
  c->Open();
  EXPECT_TRUE(c->IsOpen());
}

// Threads of this process, once their number has stayed the same for a moment (an engine's
// threads may still be ending after a detach).
int SettledThreads() {
  const auto count = [] {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task"))
      ++n;
    return n;
  };
  int last = count();
  for (int steady = 0, round = 0; steady < 5 && round < 200; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int now = count();
    steady = now == last ? steady + 1 : 0;
    last = now;
  }
  return last;
}

// The embedded engine opens a database with a collector thread of its own unless told
// otherwise; a connection opens it without one (statements clean up after themselves), and
// still works with another attachment of the process holding the database already.
TEST_F(SqlTest, AnEmbeddedDatabaseOpensWithoutTheCollectorThread) {
  const std::string plain_db = testdb::CreateTestDatabase(folder_->path(), false, "plain.fdb");
  const std::string ours_db = testdb::CreateTestDatabase(folder_->path(), false, "ours.fdb");
  auto plain = testdb::FirebirdConnection(plain_db);
  auto ours = testdb::FirebirdConnection(ours_db);

  const int before = SettledThreads();
  soci::session by_hand(*soci::factory_firebird(), plain->ConnectString());
  const int with_plain = SettledThreads();
  EXPECT_EQ(One(*ours, "SELECT COUNT(*) AS N FROM RDB$DATABASE", "N"), "1");
  const int with_ours = SettledThreads();
  EXPECT_EQ(with_ours - with_plain, with_plain - before - 1);

  EXPECT_EQ(One(*plain, "SELECT COUNT(*) AS N FROM RDB$DATABASE", "N"), "1");
}

TEST_F(SqlTest, AMissingDatabaseFailsWithTheClientMessage) {
  auto c = testdb::FirebirdConnection((folder_->path() / "missing.fdb").string());
  try {
    c->Open();
    FAIL();
  } catch (const SqlError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.fdb"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(c->IsOpen());
}

// The Firebird client reads file names in the character set of the locale in force at its first
// call; the programs set theirs from the environment at start, this test binary a UTF-8 one.
const bool kUtf8Locale = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;

TEST_F(SqlTest, ADatabaseInAFolderWithAccentsOpens) {
  if (!kUtf8Locale) GTEST_SKIP() << "no C.UTF-8 locale on this machine";
  const std::string db = testdb::CreateTestDatabase(folder_->path() / "Ação São", false);
  auto c = testdb::FirebirdConnection(db);
  EXPECT_EQ(One(*c, "SELECT MON$DATABASE_NAME AS N FROM MON$DATABASE", "N"), db);
}

// Statements run read committed and wait for a row lock, but not for ever: a lock given back in
// time lets the statement go on; one held past the lock time-out fails it with the database's
// lock conflict message, and what was committed before stays.
TEST_F(SqlTest, StatementsWaitForLocksWithinTheLockTimeout) {
  auto c = Connect();
  c->SetParam("InterBase TransIsolation", "ReadCommited");
  c->SetParam("WaitOnLocks", "True");
  c->SetParam("LockTimeout", "2");
  EXPECT_EQ(One(*c, "SELECT MON$ISOLATION_MODE AS I FROM MON$TRANSACTIONS "
                    "WHERE MON$TRANSACTION_ID = CURRENT_TRANSACTION", "I"),
            "2");   // read committed, record version
  EXPECT_EQ(One(*c, "SELECT MON$LOCK_TIMEOUT AS T FROM MON$TRANSACTIONS "
                    "WHERE MON$TRANSACTION_ID = CURRENT_TRANSACTION", "T"),
            "2");

  // Another program holds the row in a transaction of its own.
  soci::session holder(*soci::factory_firebird(), Connect()->ConnectString());
  holder << "UPDATE TAB_PRODUTO SET DES_PRODUTO = 'BLOQUEADO' WHERE COD_PRODUTO = '124'";
  const std::string update = "UPDATE TAB_PRODUTO SET DES_PRODUTO = 'FEIJAO' WHERE COD_PRODUTO = '124'";
  auto start = std::chrono::steady_clock::now();
  try {
    Exec(*c, update);
    FAIL() << "the locked row was updated";
  } catch (const SqlError& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("update conflicts with concurrent update"));
  }
  const auto waited = std::chrono::steady_clock::now() - start;
  // The engine looks at lock waits once a second: the time-out passes within its last second.
  EXPECT_GE(waited, std::chrono::seconds(1));
  EXPECT_LT(waited, std::chrono::seconds(6));
  // Given back within the wait: the statement goes on.
  std::thread release([&holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    holder.rollback();
  });
  Exec(*c, update);
  release.join();
  EXPECT_EQ(One(*c, "SELECT DES_PRODUTO AS D FROM TAB_PRODUTO WHERE COD_PRODUTO = '124'", "D"),
            "FEIJAO");
  Exec(*c, "UPDATE TAB_PRODUTO SET DES_PRODUTO = 'FEIJÃO PRETO 1KG' WHERE COD_PRODUTO = '124'");
}

// With no connection left alone, ending the process is returning from main: exit handlers run.
// (After a lost connection they do not: test_data_fbserver.)
TEST(EndProcess, RunsExitHandlersWhenNoConnectionWasLeftAlone) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::atexit([] { std::fputs("exit handlers ran\n", stderr); });
        EndProcess(4);
      },
      ::testing::ExitedWithCode(4), ::testing::HasSubstr("exit handlers ran"));
}

}  // namespace
}  // namespace orv::data
