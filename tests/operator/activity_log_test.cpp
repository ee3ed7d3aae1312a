#include "operator/activity_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "util/datetime.h"
#include "util/faulty_env.h"
#include "util/mem_env.h"
#include "util/regional.h"
#include "util/text.h"
#include "util/utilities.h"
#include "support/temp_folder.h"
#include "support/log_reader.h"

namespace fs = std::filesystem;
using orv::op::ActivityLogOptions;
using orv::op::LogIOError;
using orv::op::TActivityLog;
using orv::op::TOperationTiming;
using orv::util::DateTimeParts;
using orv::util::EncodeDateTime;
using orv::util::TDateTime;

namespace {

using orv::testing::TempFolder;

using orv::testing::ReadWholeFile;

// The disk, with the clock of another Env.
class DiscoComRelogio final : public orv::util::EnvWrapper {
 public:
  explicit DiscoComRelogio(orv::util::Env& relogio)
      : EnvWrapper(orv::util::Env::Default()), relogio_(relogio) {}
  TDateTime Now() override { return relogio_.Now(); }

 private:
  orv::util::Env& relogio_;
};

class RecordingObserver : public orv::op::IActivityObserver {
 public:
  std::vector<std::pair<std::size_t, std::string>> rows;
  std::vector<std::string> counts;
  void RowAppended(std::size_t index, const orv::op::TLogRow& row) override {
    rows.emplace_back(index, row.DES_LOG);
  }
  void IndicatorsChanged(const orv::op::TIndicadores& i) override {
    counts.push_back(i.lblNumRequisicoes + "|" + i.lblUpload);
  }
  void LogFileChanged(const std::string& arquivo) override { arquivos.push_back(arquivo); }
  std::vector<std::string> arquivos;
};

class ActivityLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = orv::util::Regional();
    orv::util::SetRegional(orv::util::RegionalPtBR());
    mem_.SetNow(EncodeDateTime({2026, 12, 9, 14, 3, 27, 415}));
  }
  void TearDown() override { orv::util::SetRegional(saved_); }

  // A log on the disk (with the test's clock), or on another Env.
  std::unique_ptr<TActivityLog> MakeLog(std::size_t max_linhas = orv::op::kMaxLinhasLog) {
    return MakeLog(disco_, max_linhas);
  }
  std::unique_ptr<TActivityLog> MakeLog(orv::util::Env& env,
                                        std::size_t max_linhas = orv::op::kMaxLinhasLog) {
    ActivityLogOptions o;
    o.PastaLogs = orv::op::PastaLogsDe(dir_.str());
    o.max_linhas = max_linhas;
    auto log = std::make_unique<TActivityLog>(std::move(o), env);
    log->CreateFolder();
    return log;
  }

  orv::util::RegionalSettings saved_;
  orv::util::MemEnv mem_;   // the clock of every log here, and the files of the faulty ones
  DiscoComRelogio disco_{mem_};
  TempFolder dir_;
};

TEST_F(ActivityLogTest, FileLineAndRowHaveTheMarksAndTheHostCodePage) {
  auto log = MakeLog();
  EXPECT_EQ(log->ArquivoLog(), "2026-12-09.log");
  EXPECT_EQ(log->CaminhoArquivo(), dir_.str() + "/logs/2026-12-09.log");

  TOperationTiming t(*log);
  t.SetDtaInicio();
  mem_.AdvanceMs(62);
  t.SetDtaTermino();
  mem_.AdvanceMs(5);
  t.WriteLog("Aplicação encerrada", false);

  // Windows-1252: "ç" and "ã" are one byte each.
  EXPECT_EQ(ReadWholeFile(log->CaminhoArquivo()),
            "09/12/2026 14:03:27.415(00:00:00.062), Aplica\xE7\xE3o encerrada\r\n");
  ASSERT_EQ(log->RowCount(), 1u);
  const auto row = log->Row(0);
  EXPECT_EQ(row.DES_LOG, "Aplicação encerrada");
  EXPECT_EQ(row.DTA_INICIO, "09/12/2026 14:03:27.415");
  EXPECT_EQ(row.DTA_TERMINO, "09/12/2026 14:03:27.477");
  EXPECT_EQ(row.DTA_LOG, "09/12/2026 14:03:27.482");
  EXPECT_EQ(row.VAL_TMP_EXEC, "00:00:00.062");
  EXPECT_EQ(log->Indicadores().NumRequisicoes, 0);  // window lines do not count

  // A second line is appended after the first, never over it.
  t.SetDtaInicio();
  t.WriteLog("segunda", false);
  EXPECT_EQ(ReadWholeFile(log->CaminhoArquivo()),
            "09/12/2026 14:03:27.415(00:00:00.062), Aplica\xE7\xE3o encerrada\r\n"
            "09/12/2026 14:03:27.482(00:00:00.000), segunda\r\n");
}

// The table keeps the newest rows up to its bound; the file keeps every line; observers get
// each row with its index among the rows kept.
TEST_F(ActivityLogTest, TableKeepsTheNewestRowsAndTheFileEveryLine) {
  auto log = MakeLog(3);
  struct Indices : orv::op::IActivityObserver {
    std::vector<std::size_t> got;
    void RowAppended(std::size_t index, const orv::op::TLogRow&) override { got.push_back(index); }
    void IndicatorsChanged(const orv::op::TIndicadores&) override {}
  } observer;
  log->AddObserver(&observer);
  TOperationTiming t(*log);
  t.SetDtaInicio();
  for (int i = 1; i <= 5; ++i) t.WriteLog("linha " + std::to_string(i), false);
  log->RemoveObserver(&observer);
  ASSERT_EQ(log->RowCount(), 3u);
  EXPECT_EQ(log->Row(0).DES_LOG, "linha 3");
  EXPECT_EQ(log->Rows().back().DES_LOG, "linha 5");
  EXPECT_EQ(observer.got, (std::vector<std::size_t>{0, 1, 2, 2, 2}));
  const std::string file = ReadWholeFile(log->CaminhoArquivo());
  EXPECT_NE(file.find("linha 1\r\n"), std::string::npos);
  EXPECT_NE(file.find("linha 5\r\n"), std::string::npos);
}

TEST_F(ActivityLogTest, EmptyLineOnlyCreatesTheFileAndMayCount) {
  auto log = MakeLog();
  TOperationTiming t(*log);
  t.SetDtaInicio();
  ASSERT_FALSE(fs::exists(log->CaminhoArquivo()));

  t.WriteLog("", false);
  EXPECT_TRUE(fs::exists(log->CaminhoArquivo()));
  EXPECT_EQ(ReadWholeFile(log->CaminhoArquivo()), "");
  EXPECT_EQ(log->RowCount(), 0u);
  EXPECT_EQ(log->Indicadores().NumRequisicoes, 0);

  t.WriteLog("", true);
  EXPECT_EQ(ReadWholeFile(log->CaminhoArquivo()), "");
  EXPECT_EQ(log->RowCount(), 0u);
  EXPECT_EQ(log->Indicadores().NumRequisicoes, 1);
  EXPECT_EQ(log->Indicadores().lblNumRequisicoes, "1");
}

// Each line goes to the file of the date on which it is written: a step that ran past
// midnight starts the new date's file with its marks as they are; the table, the indicators
// and observers go on, and the observers learn the new file name.
TEST_F(ActivityLogTest, FirstLineAfterMidnightStartsTheNewDatesFile) {
  mem_.SetNow(EncodeDateTime({2026, 12, 9, 23, 59, 59, 500}));
  auto log = MakeLog();
  RecordingObserver obs;
  log->AddObserver(&obs);
  TOperationTiming t(*log);
  t.SetDtaInicio();
  t.WriteLog("antes", true);
  mem_.AdvanceMs(400);  // 23:59:59.900, still the 9th
  t.SetDtaTermino();
  t.WriteLog("ainda no dia 9", true);
  mem_.AdvanceMs(400);  // 00:00:00.300 of the 10th
  t.SetDtaTermino();
  t.WriteLog("passou da meia-noite", true);
  mem_.AdvanceMs(3600000);
  t.SetDtaInicio();
  t.WriteLog("depois", true);
  log->RemoveObserver(&obs);

  EXPECT_EQ(log->ArquivoLog(), "2026-12-10.log");
  EXPECT_EQ(log->CaminhoArquivo(), dir_.str() + "/logs/2026-12-10.log");
  EXPECT_EQ(ReadWholeFile(dir_.str() + "/logs/2026-12-09.log"),
            "09/12/2026 23:59:59.500(00:00:00.000), antes\r\n"
            "09/12/2026 23:59:59.500(00:00:00.400), ainda no dia 9\r\n");
  EXPECT_EQ(ReadWholeFile(dir_.str() + "/logs/2026-12-10.log"),
            "09/12/2026 23:59:59.500(00:00:00.800), passou da meia-noite\r\n"
            "10/12/2026 01:00:00.300(00:00:00.000), depois\r\n");
  EXPECT_EQ(log->RowCount(), 4u);
  EXPECT_EQ(log->Indicadores().NumRequisicoes, 4);
  EXPECT_EQ(obs.arquivos, (std::vector<std::string>{"2026-12-10.log"}));
  EXPECT_EQ(obs.rows.size(), 4u);
}

// The folder taken away at midnight: the new date's file is made with its folder, as at
// start-up. A folder that cannot be made: the line's caller gets the error naming it, the
// request is counted, nothing is lost from the table's order, and the next line tries again.
TEST_F(ActivityLogTest, RollOverMakesTheFolderAgainOrRaisesUntilItCan) {
  mem_.SetNow(EncodeDateTime({2026, 12, 9, 23, 59, 0, 0}));
  auto log = MakeLog();
  TOperationTiming t(*log);
  t.SetDtaInicio();
  t.WriteLog("dia 9", false);
  const std::string pasta = log->PastaLogs();
  fs::remove_all(pasta);
  mem_.AdvanceMs(120000);  // the 10th
  t.SetDtaInicio();
  t.WriteLog("dia 10", false);
  EXPECT_EQ(ReadWholeFile(pasta + "/2026-12-10.log"), "10/12/2026 00:01:00.000(00:00:00.000), dia 10\r\n");

  // A plain file where the folder should be: it cannot be made.
  fs::remove_all(pasta);
  { std::ofstream(pasta) << "x"; }
  mem_.AdvanceMs(86400000.0);  // the 11th
  t.SetDtaInicio();
  try {
    t.WriteLog("dia 11", true);
    FAIL() << "no error";
  } catch (const LogIOError& e) {
    EXPECT_NE(std::string(e.what()).find("\"" + pasta + "\""), std::string::npos) << e.what();
  }
  EXPECT_EQ(log->Indicadores().NumRequisicoes, 1);
  EXPECT_EQ(log->RowCount(), 2u);
  fs::remove(pasta);
  t.WriteLog("de novo", false);
  EXPECT_EQ(ReadWholeFile(pasta + "/2026-12-11.log"),
            "11/12/2026 00:01:00.000(00:00:00.000), de novo\r\n");
}

TEST_F(ActivityLogTest, LongLineIsWholeInTheFileAndCutInTheTable) {
  auto log = MakeLog();
  TOperationTiming t(*log);
  t.SetDtaInicio();
  std::string line;
  for (int i = 0; i < 1200; ++i) line += "é";
  t.WriteLog(line, false);

  const std::string file = ReadWholeFile(log->CaminhoArquivo());
  const std::string prefix = "09/12/2026 14:03:27.415(00:00:00.000), ";
  ASSERT_EQ(file.size(), prefix.size() + 1200 + 2);  // one byte per character in Windows-1252
  EXPECT_EQ(file.substr(prefix.size(), 1200), std::string(1200, '\xE9'));
  EXPECT_EQ(orv::util::Utf16Length(log->Row(0).DES_LOG), 1000u);
}

TEST_F(ActivityLogTest, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  auto log = MakeLog();
  TOperationTiming t(*log);
  t.SetDtaInicio();
  t.WriteLog("ana \xC5\x82\xF0\x9F\x98\x80 fim", false);  // U+0142 and U+1F600
  EXPECT_EQ(log->Row(0).DES_LOG, "ana ?? fim");
  EXPECT_EQ(ReadWholeFile(log->CaminhoArquivo()),
            "09/12/2026 14:03:27.415(00:00:00.000), ana ?? fim\r\n");
}

TEST_F(ActivityLogTest, AverageOfThreeOperations) {
  auto log = MakeLog();
  EXPECT_EQ(log->Indicadores().lblNumRequisicoes, "0");
  EXPECT_EQ(log->Indicadores().lblTmpMedio, "0");
  for (double ms : {100.0, 200.0, 300.0}) {
    TOperationTiming t(*log);
    t.SetDtaInicio();
    mem_.AdvanceMs(ms);
    t.SetDtaTermino();
    t.WriteLog("Coletor(127.0.0.1) operação", true);
  }
  const auto ind = log->Indicadores();
  EXPECT_EQ(ind.NumRequisicoes, 3);
  EXPECT_EQ(ind.lblNumRequisicoes, "3");
  EXPECT_EQ(ind.lblTmpMedio, "00:00:00.200");
}

// Failed operations are counted by kind, apart from the requests; the open sessions are what
// the session count says when told of a change. Zeroing (window creation) clears the counters
// and counts the sessions again.
TEST_F(ActivityLogTest, FailuresByKindAndOpenSessions) {
  std::size_t sessoes = 0;
  ActivityLogOptions o;
  o.PastaLogs = orv::op::PastaLogsDe(dir_.str());
  o.contar_sessoes = [&sessoes] { return sessoes; };
  TActivityLog log(std::move(o), disco_);
  RecordingObserver obs;
  log.AddObserver(&obs);
  using orv::op::TFalha;
  for (TFalha f : {TFalha::Soap, TFalha::ResultadoFalse, TFalha::ResultadoFalse, TFalha::Recusa,
                   TFalha::Recusa, TFalha::Recusa})
    log.ContarFalha(f);
  sessoes = 2;
  EXPECT_EQ(log.Indicadores().SessoesAbertas, 0);   // not counted until told
  log.SessoesMudaram();
  auto ind = log.Indicadores();
  EXPECT_EQ(ind.FalhasSoap, 1);
  EXPECT_EQ(ind.ResultadosFalse, 2);
  EXPECT_EQ(ind.Recusas, 3);
  EXPECT_EQ(ind.SessoesAbertas, 2);
  EXPECT_EQ(ind.NumRequisicoes, 0);
  EXPECT_EQ(obs.counts.size(), 7u);   // each change is told

  log.ZerarIndicadores();
  ind = log.Indicadores();
  EXPECT_EQ(ind.FalhasSoap + ind.ResultadosFalse + ind.Recusas, 0);
  EXPECT_EQ(ind.SessoesAbertas, 2);
  log.RemoveObserver(&obs);
}

TEST_F(ActivityLogTest, BytesSentAreCountedIn64Bits) {
  auto log = MakeLog();
  EXPECT_EQ(log->Indicadores().lblUpload, "0 B");
  log->AddUpload(512);
  EXPECT_EQ(log->Indicadores().lblUpload, "512 B");
  log->AddUpload(1024);
  EXPECT_EQ(log->Indicadores().lblUpload, orv::util::FormatarTamanho(1536));
  log->AddUpload(2147483647);
  log->AddUpload(2147483647);
  EXPECT_EQ(log->Indicadores().TotalEnviado, 4294968830LL);
  EXPECT_EQ(log->Indicadores().lblUpload, orv::util::FormatarTamanho(4294968830LL));
  log->AddUpload(-5);  // a negative length is no byte sent
  EXPECT_EQ(log->Indicadores().TotalEnviado, 4294968830LL);
}

std::string Linha(const std::string& texto) {
  return "09/12/2026 14:03:27.415(00:00:00.000), " + texto + "\r\n";
}

// A folder made read-only: the file cannot be opened, no row is added but the request is
// counted; once the folder can be written again, the next line goes to the file.
TEST_F(ActivityLogTest, OpenFailureAddsNoRowButTheRequestIsCounted) {
  orv::util::FaultyEnv env(mem_);
  auto log = MakeLog(env);
  TOperationTiming t(*log);
  t.SetDtaInicio();
  env.FailOpenAppend(std::make_error_code(std::errc::read_only_file_system));
  try {
    t.WriteLog("linha", true);
    FAIL() << "no error";
  } catch (const LogIOError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Erro de E/S ao abrir o arquivo de log \"" + log->CaminhoArquivo() +
                  "\": Read-only file system");
  }
  EXPECT_EQ(log->RowCount(), 0u);
  EXPECT_EQ(log->Indicadores().NumRequisicoes, 1);
  EXPECT_EQ(mem_.FileBytes(log->CaminhoArquivo()), std::nullopt);
  env.Heal();
  t.WriteLog("depois", false);
  EXPECT_EQ(mem_.FileBytes(log->CaminhoArquivo()), Linha("depois"));
}

// A disk that fills up: the line that does not fit raises, naming the file, and keeps its row;
// the lines before it stay whole in the file.
TEST_F(ActivityLogTest, WriteFailureKeepsTheRowAndRaises) {
  orv::util::FaultyEnv env(mem_);
  auto log = MakeLog(env);
  TOperationTiming t(*log);
  t.SetDtaInicio();
  env.FailAppend(2, std::make_error_code(std::errc::no_space_on_device));
  t.WriteLog("cabe", false);
  try {
    t.WriteLog("linha", false);
    FAIL() << "no error";
  } catch (const LogIOError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Erro de E/S ao gravar o arquivo de log \"" + log->CaminhoArquivo() +
                  "\": No space left on device");
  }
  EXPECT_EQ(log->RowCount(), 2u);
  EXPECT_EQ(log->Row(1).DES_LOG, "linha");
  EXPECT_EQ(mem_.FileBytes(log->CaminhoArquivo()), Linha("cabe"));
}

// The file stays open between lines: once open, a path that can no longer be opened takes the
// lines all the same. Moved away, the file keeps what it had and the next line opens the path
// again (failing here: raised, no row, and tried again by the line after); the folder taken
// away with the file is made again.
TEST_F(ActivityLogTest, TheFileIsKeptOpenWhileThePathStillNamesIt) {
  orv::util::FaultyEnv env(mem_);
  auto log = MakeLog(env);
  TOperationTiming t(*log);
  t.SetDtaInicio();
  const std::string arquivo = log->CaminhoArquivo();
  t.WriteLog("um", false);
  env.FailOpenAppend(std::make_error_code(std::errc::read_only_file_system));
  t.WriteLog("dois", false);
  mem_.Rename(arquivo, arquivo + ".old");
  EXPECT_THROW(t.WriteLog("sem arquivo", false), LogIOError);
  env.Heal();
  t.WriteLog("tres", false);
  EXPECT_EQ(mem_.FileBytes(arquivo + ".old"), Linha("um") + Linha("dois"));
  EXPECT_EQ(mem_.FileBytes(arquivo), Linha("tres"));

  mem_.Remove(log->PastaLogs());
  t.WriteLog("quatro", false);
  EXPECT_EQ(mem_.FileBytes(arquivo), Linha("quatro"));
  EXPECT_EQ(log->RowCount(), 4u);
}

// A file that failed a write is not written to again: the next line opens the path anew (here
// it cannot at first), and the line after that reaches the file after the lines before.
TEST_F(ActivityLogTest, AfterAWriteFailureTheNextLineOpensTheFileAgain) {
  orv::util::FaultyEnv env(mem_);
  auto log = MakeLog(env);
  TOperationTiming t(*log);
  t.SetDtaInicio();
  t.WriteLog("um", false);
  env.FailAppend(1, std::make_error_code(std::errc::no_space_on_device));
  EXPECT_THROW(t.WriteLog("disco cheio", false), LogIOError);
  env.Heal();
  env.FailOpenAppend(std::make_error_code(std::errc::read_only_file_system));
  EXPECT_THROW(t.WriteLog("sem abrir", false), LogIOError);
  env.Heal();
  t.WriteLog("dois", false);
  EXPECT_EQ(mem_.FileBytes(log->CaminhoArquivo()), Linha("um") + Linha("dois"));
  EXPECT_EQ(log->RowCount(), 3u);   // the failed write keeps its row; the failed open adds none
}

// The day's file is closed at the roll-over: a close that fails is raised, naming that file,
// once the line is in the new date's file; the new file is kept open, so the lines after it
// meet no close (nor does the log's end, which never raises).
TEST_F(ActivityLogTest, AFailedCloseAtTheRollOverIsRaisedAfterTheLineIsWritten) {
  mem_.SetNow(EncodeDateTime({2026, 12, 9, 23, 59, 0, 0}));
  orv::util::FaultyEnv env(mem_);
  auto log = MakeLog(env);
  TOperationTiming t(*log);
  t.SetDtaInicio();
  const std::string dia9 = log->CaminhoArquivo();
  t.WriteLog("dia 9", false);
  env.FailClose(std::make_error_code(std::errc::io_error));
  mem_.AdvanceMs(120000);  // the 10th
  t.SetDtaInicio();
  try {
    t.WriteLog("dia 10", false);
    FAIL() << "no error";
  } catch (const LogIOError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Erro de E/S ao fechar o arquivo de log \"" + dia9 + "\": Input/output error");
  }
  t.WriteLog("depois", false);
  const std::string linha = "10/12/2026 00:01:00.000(00:00:00.000), ";
  EXPECT_EQ(mem_.FileBytes(log->CaminhoArquivo()), linha + "dia 10\r\n" + linha + "depois\r\n");
  EXPECT_EQ(mem_.FileBytes(dia9), "09/12/2026 23:59:00.000(00:00:00.000), dia 9\r\n");
}

// A file that an operator moves or deletes is made again by the very next line, which goes
// only there; one put in its place is appended to.
TEST_F(ActivityLogTest, AFileMovedOrDeletedBetweenLinesIsMadeAgainByTheNextLine) {
  auto log = MakeLog();
  TOperationTiming t(*log);
  t.SetDtaInicio();
  const std::string arquivo = log->CaminhoArquivo();
  const std::string linha = "09/12/2026 14:03:27.415(00:00:00.000), ";
  t.WriteLog("um", false);
  fs::rename(arquivo, arquivo + ".old");
  t.WriteLog("dois", false);
  t.WriteLog("tres", false);
  EXPECT_EQ(ReadWholeFile(arquivo + ".old"), linha + "um\r\n");
  EXPECT_EQ(ReadWholeFile(arquivo), linha + "dois\r\n" + linha + "tres\r\n");
  fs::remove(arquivo);
  t.WriteLog("quatro", false);
  EXPECT_EQ(ReadWholeFile(arquivo), linha + "quatro\r\n");
  // A file put in its place by someone else is written to from then on.
  fs::remove(arquivo);
  { std::ofstream(arquivo) << "outro\r\n"; }
  t.WriteLog("cinco", false);
  EXPECT_EQ(ReadWholeFile(arquivo), "outro\r\n" + linha + "cinco\r\n");
}

TEST_F(ActivityLogTest, RealFileSystemErrorsNameThePathAndTheSystemError) {
  ActivityLogOptions o;
  o.PastaLogs = dir_.str() + "/ausente/logs";
  TActivityLog log(std::move(o), disco_);
  TOperationTiming t(log);
  try {
    t.WriteLog("x", false);
    FAIL() << "no error";
  } catch (const LogIOError& e) {
    EXPECT_EQ(std::string(e.what()), "Erro de E/S ao abrir o arquivo de log \"" +
                                         log.CaminhoArquivo() + "\": No such file or directory");
  }
  // A plain file where the folder should be: the folder cannot be made.
  { std::ofstream(dir_.str() + "/arquivo") << "x"; }
  ActivityLogOptions o2;
  o2.PastaLogs = dir_.str() + "/arquivo/logs";
  TActivityLog log2(std::move(o2));
  EXPECT_THROW(log2.CreateFolder(), LogIOError);
  // CreateFolder makes every missing parent.
  ActivityLogOptions o3;
  o3.PastaLogs = dir_.str() + "/a/b/c";
  TActivityLog log3(std::move(o3));
  log3.CreateFolder();
  EXPECT_TRUE(fs::is_directory(dir_.str() + "/a/b/c"));
}

TEST_F(ActivityLogTest, ObserverIsToldOfRowsAndIndicators) {
  auto log = MakeLog();
  RecordingObserver obs;
  log->AddObserver(&obs);
  TOperationTiming t(*log);
  t.SetDtaInicio();
  t.WriteLog("um", true);
  t.WriteLog("dois", false);
  log->AddUpload(10);
  log->RemoveObserver(&obs);
  t.WriteLog("tres", true);
  ASSERT_EQ(obs.rows.size(), 2u);
  EXPECT_EQ(obs.rows[0], std::make_pair(std::size_t{0}, std::string("um")));
  EXPECT_EQ(obs.rows[1], std::make_pair(std::size_t{1}, std::string("dois")));
  EXPECT_EQ(obs.counts, (std::vector<std::string>{"1|0 B", "1|10 B"}));
}

// Many operations at once: every line whole, with its own marks, and the count exact.
TEST(ActivityLogConcurrency, LinesAreWholeWithTheirOwnMarks) {
  const auto saved = orv::util::Regional();
  orv::util::SetRegional(orv::util::RegionalPtBR());
  TempFolder dir;
  ActivityLogOptions o;
  o.PastaLogs = dir.str();
  TActivityLog log(std::move(o));
  constexpr int kThreads = 32, kLines = 40;
  const TDateTime base = EncodeDateTime({2020, 1, 1, 0, 0, 0, 0});
  std::vector<std::thread> threads;
  for (int th = 0; th < kThreads; ++th) {
    threads.emplace_back([&, th] {
      for (int i = 0; i < kLines; ++i) {
        TOperationTiming t(log);
        // Each operation's start is unique and is also written into its text.
        const TDateTime start = base + (th * kLines + i) / 1440.0;
        t.SetDtaInicio(start);
        std::this_thread::yield();
        t.SetDtaTermino();
        const std::string mark = orv::util::FormatarDataHora("dd/mm/yyyy tt.zzz", start);
        t.WriteLog("op " + mark + " " + std::string(200, static_cast<char>('a' + th % 26)), true);
      }
    });
  }
  for (auto& t : threads) t.join();

  EXPECT_EQ(log.Indicadores().NumRequisicoes, kThreads * kLines);
  EXPECT_EQ(log.RowCount(), static_cast<std::size_t>(kThreads * kLines));
  std::istringstream in(ReadWholeFile(log.CaminhoArquivo()));
  std::string line;
  int n = 0;
  std::set<std::string> starts;
  while (std::getline(in, line)) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r');
    line.pop_back();
    ++n;
    // "<start>(<dur>), op <start> <200 letters>"
    const std::string start = line.substr(0, 23);
    const auto pos = line.find("), op ");
    ASSERT_NE(pos, std::string::npos) << line;
    EXPECT_EQ(line.substr(pos + 6, 23), start) << line;
    const std::string tail = line.substr(pos + 6 + 24);
    ASSERT_EQ(tail.size(), 200u);
    EXPECT_EQ(tail.find_first_not_of(tail[0]), std::string::npos);
    starts.insert(start);
  }
  EXPECT_EQ(n, kThreads * kLines);
  EXPECT_EQ(starts.size(), static_cast<std::size_t>(kThreads * kLines));
  orv::util::SetRegional(saved);
}

}  // namespace
