// Activity log and timing indicators: the daily log file, the in-memory log table cliLogs, the
// request count, the average execution time and the bytes sent; beside them the failed
// operations (SOAP faults, "false" results and refused requests, counted apart) and the open
// sessions.
//
// The daily file rolls over: each line goes to the file named after the date on which it is
// written, so the first line after midnight starts the new date's file (made, with the folder
// when that is missing, as at start-up). The table and the indicators go on across midnight.
// The day's file is kept open between lines; before each line the log looks that the path
// still names the file it keeps, so a file an operator moves, renames or deletes gets no
// further line, and the next line makes a new one at the path (with the folder, when that is
// gone too).
//
// Every timed step keeps its own marks in a TOperationTiming (one per collector operation, one
// for the window's own steps), so concurrent operations never overwrite each other's marks.
// WriteLog is serialised: each line reaches the file and the table whole, in one order, and the
// counters are exact. The window learns of new rows and indicator changes through
// IActivityObserver; it must hand them over to its own thread (the observer is called on the
// writer's thread).
//
// Thread safety: TActivityLog may be used from any thread (one internal lock). A
// TOperationTiming belongs to the one operation (thread) that created it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "util/datetime.h"
#include "util/env.h"

namespace orv::op {

// ---- Limits -------------------------------------------------------------------------------
// Width of cliLogs.DES_LOG in characters: the grid keeps at most this much of a line; the file
// always gets the whole line.
inline constexpr std::size_t kLarguraDesLog = 1000;
// Width of the cliLogs date-time fields: "dd/mm/yyyy tt.zzz" with a two-digit-hour long time
// format is exactly 23 characters; a longer regional format is cut there.
inline constexpr std::size_t kLarguraDataHora = 23;
// Rows cliLogs (and the window's grid) keep: the oldest go first past this. A service up for
// months writes millions of lines; kept whole in memory they would grow without end (a row
// is a few hundred bytes, so this is some tens of megabytes). The file keeps every line.
inline constexpr std::size_t kMaxLinhasLog = 100000;

// Pattern of the table's date-time fields and of the start mark in the file.
inline constexpr std::string_view kFormatoDataHora = "dd/mm/yyyy tt.zzz";
// Pattern of durations (shown as a time of day).
inline constexpr std::string_view kFormatoDuracao = "tt.zzz";
// Pattern of the daily file name (literal hyphens, independent of the regional settings).
inline constexpr std::string_view kFormatoArquivoLog = "yyyy-mm-dd";
inline constexpr std::string_view kExtensaoLog = ".log";
inline constexpr std::string_view kNomePastaLogs = "logs";

// The log folder of an installation folder: the folder followed by "\logs" ("/logs" on POSIX).
std::string PastaLogsDe(std::string_view pasta_sistema);

// One row of cliLogs. Each field holds the text as the host's code page keeps it (characters
// the code page cannot represent are '?'), cut to the field's width, and is kept as UTF-8.
struct TLogRow {
  std::string DES_LOG;
  std::string DTA_LOG;
  std::string DTA_INICIO;
  std::string DTA_TERMINO;
  std::string VAL_TMP_EXEC;
};

// The kinds of failed operation, each counted apart.
enum class TFalha {
  Soap,             // a fault envelope answered by the SOAP endpoint
  ResultadoFalse,   // an operation that answered "false" (all of it or one of its statements)
  Recusa,           // a request the service answered with status 500 and no module's answer
                    // (every web module busy, or an error that no module answered)
};

// The indicators and the texts of the three labels the summary line reads.
struct TIndicadores {
  std::int64_t NumRequisicoes = 0;
  util::TDateTime TempoTotal = 0;
  util::TDateTime TempoMedio = 0;
  std::int64_t TotalEnviado = 0;
  std::string lblNumRequisicoes = "0";
  std::string lblTmpMedio = "0";
  std::string lblUpload = "0 B";
  std::int64_t FalhasSoap = 0;
  std::int64_t ResultadosFalse = 0;
  std::int64_t Recusas = 0;
  std::int64_t SessoesAbertas = 0;   // rows of the session table, as last counted
};

// Told of every appended row and every change of the indicators. Called on the thread that
// wrote the line or counted the bytes, with the log's lock held (so rows arrive in order):
// an implementation must return quickly and must not call back into the log.
class IActivityObserver {
 public:
  virtual ~IActivityObserver() = default;
  virtual void RowAppended(std::size_t index, const TLogRow& row) = 0;
  virtual void IndicatorsChanged(const TIndicadores& indicadores) = 0;
  // The daily file rolled over to `arquivo_log` (a new ArquivoLog).
  virtual void LogFileChanged(const std::string& arquivo_log) { (void)arquivo_log; }
};

// An I/O failure of the log file or folder; the message names the path and the system error.
class LogIOError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ActivityLogOptions {
  std::string PastaLogs;                            // the log folder
  std::size_t max_linhas = kMaxLinhasLog;           // rows cliLogs keeps (the newest)
  // The number of open sessions, read whenever SessoesMudaram is called; empty: always 0.
  std::function<std::size_t()> contar_sessoes;
};

class TOperationTiming;

class TActivityLog {
 public:
  // Fixes PastaLogs for the log's whole life, and ArquivoLog by today's date on the clock.
  // The file, the folder and the clock are the Env's, which must outlive the log.
  explicit TActivityLog(ActivityLogOptions options, util::Env& env = util::Env::Default());
  TActivityLog(const TActivityLog&) = delete;
  TActivityLog& operator=(const TActivityLog&) = delete;
  // Closes the kept file; a failure there goes untold (no line is left to carry it).
  ~TActivityLog();

  const std::string& PastaLogs() const { return pasta_logs_; }
  // The current day's file name; it changes with the first line written on a new date.
  std::string ArquivoLog() const;
  // PastaLogs + separator + ArquivoLog.
  std::string CaminhoArquivo() const;

  // Creates PastaLogs with every missing parent. Raises LogIOError.
  void CreateFolder();

  // Appends Line, timed by `marks`, to the file and to cliLogs. With CalcTmpMedio the line
  // counts as a request first (also when Line is empty or the file fails). An empty Line only
  // makes sure the file exists. The file is the one of the date of writing: the first line of
  // a new date rolls over to that date's file, creating the folder when it is missing. Raises
  // LogIOError when the folder cannot be created or the file cannot be opened (no row is
  // added; the next line tries again) or written (the row stays; the next line opens the file
  // again), and, once the line is written, when the file left behind (the previous day's, or
  // one moved away) could not be closed.
  void WriteLog(std::string_view Line, bool CalcTmpMedio, const TOperationTiming& marks);

  // Counts one request of the given duration and refreshes the count and average labels.
  void CalcIndicadoresTempo(util::TDateTime TempoExecucao);
  // Adds bytes sent and refreshes the bytes-sent label. Negative values are ignored.
  void AddUpload(std::int64_t Value);
  // Counts one failed operation of the given kind.
  void ContarFalha(TFalha falha);
  // The session table changed: the open sessions are counted again (under the log's lock, so
  // the last change always shows).
  void SessoesMudaram();
  // Zeroes the counters (main window creation); the open sessions are counted again.
  void ZerarIndicadores();

  TIndicadores Indicadores() const;
  // The rows kept (at most max_linhas, the newest; index 0 is the oldest kept).
  std::size_t RowCount() const;
  TLogRow Row(std::size_t index) const;   // raises std::out_of_range
  std::vector<TLogRow> Rows() const;

  void AddObserver(IActivityObserver* observer);     // not owned
  void RemoveObserver(IActivityObserver* observer);

  util::TDateTime Now() const;

 private:
  void CalcIndicadoresLocked(util::TDateTime tempo_execucao);
  void NotifyIndicadoresLocked();
  void ContarSessoesLocked();
  // Points ArquivoLog at the date of `agora`; true when that changed it.
  bool DiaDoArquivoLocked(util::TDateTime agora);

  // Creates PastaLogs; raises LogIOError.
  void CriarPasta();
  // Closes the kept file, giving the error of the close.
  std::error_code FecharArquivoLocked();

  util::Env& env_;
  std::function<std::size_t()> contar_sessoes_;
  const std::string pasta_logs_;

  mutable std::mutex mutex_;
  util::DateTimeParts dia_{};       // the date of arquivo_log_
  std::string arquivo_log_;
  std::string caminho_;
  bool criar_pasta_ = false;        // the folder is made before the next open (roll-over,
                                    // or the kept file gone from its path)
  std::unique_ptr<util::IAppendFile> arquivo_;   // the kept file, or none before the next open
  std::string caminho_aberto_;                   // the path arquivo_ was opened at
  std::size_t max_linhas_;
  std::deque<TLogRow> cliLogs_;
  TIndicadores indicadores_;
  std::vector<IActivityObserver*> observers_;
};

// The timing marks of one operation: DtaInicio, DtaTermino and TempoExecucao.
class TOperationTiming {
 public:
  explicit TOperationTiming(TActivityLog& log) : log_(&log) {}

  // DtaInicio := start, or now when start is 0; then SetDtaTermino.
  void SetDtaInicio(util::TDateTime start = 0);
  // DtaTermino := now; TempoExecucao := DtaTermino - DtaInicio.
  void SetDtaTermino();
  // Writes a line with these marks.
  void WriteLog(std::string_view Line, bool CalcTmpMedio) const {
    log_->WriteLog(Line, CalcTmpMedio, *this);
  }

  util::TDateTime DtaInicio() const { return dta_inicio_; }
  util::TDateTime DtaTermino() const { return dta_termino_; }
  util::TDateTime TempoExecucao() const { return tempo_execucao_; }
  TActivityLog& Log() const { return *log_; }

 private:
  TActivityLog* log_;
  util::TDateTime dta_inicio_ = 0;
  util::TDateTime dta_termino_ = 0;
  util::TDateTime tempo_execucao_ = 0;
};

}  // namespace orv::op
