#include "operator/activity_log.h"

#include <algorithm>
#include <utility>

#include "util/platform.h"
#include "util/text.h"
#include "util/utilities.h"

namespace orv::op {

namespace {

// What a field of 8-bit text in the host's code page keeps of `text`, cut to `width`.
std::string CampoAnsi(std::string_view text, std::size_t width) {
  return util::Utf16Left(util::ThroughAnsi(text), width);
}

}  // namespace

std::string PastaLogsDe(std::string_view pasta_sistema) {
  std::string pasta(pasta_sistema);
  pasta += util::platform::kFolderSeparator;
  pasta += kNomePastaLogs;
  return pasta;
}

TActivityLog::TActivityLog(ActivityLogOptions options, util::Env& env)
    : env_(env),
      contar_sessoes_(std::move(options.contar_sessoes)),
      pasta_logs_(std::move(options.PastaLogs)),
      max_linhas_(std::max<std::size_t>(1, options.max_linhas)) {
  DiaDoArquivoLocked(env_.Now());   // no other thread knows the object yet
}

TActivityLog::~TActivityLog() {
  std::lock_guard lock(mutex_);
  (void)FecharArquivoLocked();
}

util::TDateTime TActivityLog::Now() const { return env_.Now(); }

std::string TActivityLog::ArquivoLog() const {
  std::lock_guard lock(mutex_);
  return arquivo_log_;
}

std::string TActivityLog::CaminhoArquivo() const {
  std::lock_guard lock(mutex_);
  return caminho_;
}

bool TActivityLog::DiaDoArquivoLocked(util::TDateTime agora) {
  // The date as the file name shows it (the same rounding to the millisecond).
  const util::DateTimeParts p = util::DecodeDateTime(agora);
  if (!arquivo_log_.empty() && p.year == dia_.year && p.month == dia_.month && p.day == dia_.day)
    return false;
  dia_ = p;
  arquivo_log_ = util::FormatarDataHora(kFormatoArquivoLog, agora);
  arquivo_log_ += kExtensaoLog;
  caminho_ = pasta_logs_ + util::platform::kFolderSeparator + arquivo_log_;
  return true;
}

void TActivityLog::CreateFolder() { CriarPasta(); }

void TActivityLog::CriarPasta() {
  if (const std::error_code e = env_.CreateFolders(pasta_logs_))
    throw LogIOError("Erro de E/S ao criar a pasta de logs \"" + pasta_logs_ + "\": " + e.message());
}

void TActivityLog::WriteLog(std::string_view Line, bool CalcTmpMedio,
                            const TOperationTiming& marks) {
  // What depends only on the operation is made before taking the lock, which every request
  // thread shares.
  TLogRow row;
  std::string bytes;
  if (!Line.empty()) {
    const std::string inicio = util::FormatarDataHora(kFormatoDataHora, marks.DtaInicio());
    const std::string duracao = util::FormatarDataHora(kFormatoDuracao, marks.TempoExecucao());
    row.DES_LOG = CampoAnsi(Line, kLarguraDesLog);
    row.DTA_INICIO = CampoAnsi(inicio, kLarguraDataHora);
    row.DTA_TERMINO =
        CampoAnsi(util::FormatarDataHora(kFormatoDataHora, marks.DtaTermino()), kLarguraDataHora);
    row.VAL_TMP_EXEC = CampoAnsi(duracao, kLarguraDataHora);

    std::string linha;
    linha.reserve(inicio.size() + duracao.size() + Line.size() + 6);
    linha += inicio;
    linha += '(';
    linha += duracao;
    linha += "), ";
    linha += Line;
    bytes = util::Utf8ToAnsi(linha);
    bytes += "\r\n";
  }

  std::lock_guard lock(mutex_);
  if (CalcTmpMedio) CalcIndicadoresLocked(marks.TempoExecucao());

  // The line goes to the file of the date on which it is written. A new date's file is made
  // as at start-up: the folder first, when it is missing (a failure is raised to this line's
  // caller and the next line tries again).
  const util::TDateTime agora = env_.Now();
  if (DiaDoArquivoLocked(agora)) {
    criar_pasta_ = true;
    for (IActivityObserver* o : observers_) o->LogFileChanged(arquivo_log_);
  }
  // The kept file is left when the path no longer names it: the date changed, or an operator
  // moved or deleted it (the folder may have gone with it). Its close error is raised once
  // this line is written.
  std::error_code erro_ao_fechar;
  std::string fechado;
  if (arquivo_ && !arquivo_->StillAt(caminho_)) {
    criar_pasta_ = true;
    fechado = caminho_aberto_;
    erro_ao_fechar = FecharArquivoLocked();
  }
  if (criar_pasta_) {
    CriarPasta();
    criar_pasta_ = false;
  }
  if (!arquivo_) {
    if (const std::error_code e = env_.OpenAppend(caminho_, &arquivo_))
      throw LogIOError("Erro de E/S ao abrir o arquivo de log \"" + caminho_ + "\": " + e.message());
    caminho_aberto_ = caminho_;
  }
  if (!Line.empty()) {
    row.DTA_LOG = CampoAnsi(util::FormatarDataHora(kFormatoDataHora, agora), kLarguraDataHora);
    if (cliLogs_.size() >= max_linhas_) cliLogs_.pop_front();
    cliLogs_.push_back(std::move(row));
    for (IActivityObserver* o : observers_) o->RowAppended(cliLogs_.size() - 1, cliLogs_.back());
    // A file that failed a write is not trusted with the next line: it closes itself quietly
    // and the next line opens the path again.
    if (const std::error_code e = arquivo_->Append(bytes)) {
      arquivo_.reset();
      throw LogIOError("Erro de E/S ao gravar o arquivo de log \"" + caminho_ + "\": " + e.message());
    }
  }
  if (erro_ao_fechar)
    throw LogIOError("Erro de E/S ao fechar o arquivo de log \"" + fechado + "\": " +
                     erro_ao_fechar.message());
}

std::error_code TActivityLog::FecharArquivoLocked() {
  if (!arquivo_) return {};
  const std::error_code e = arquivo_->Close();
  arquivo_.reset();
  return e;
}

void TActivityLog::CalcIndicadoresTempo(util::TDateTime TempoExecucao) {
  std::lock_guard lock(mutex_);
  CalcIndicadoresLocked(TempoExecucao);
}

void TActivityLog::CalcIndicadoresLocked(util::TDateTime tempo_execucao) {
  TIndicadores& i = indicadores_;
  i.NumRequisicoes += 1;
  i.TempoTotal += tempo_execucao;
  i.TempoMedio = i.TempoTotal / static_cast<double>(i.NumRequisicoes);
  i.lblNumRequisicoes = std::to_string(i.NumRequisicoes);
  i.lblTmpMedio = util::FormatarDataHora(kFormatoDuracao, i.TempoMedio);
  NotifyIndicadoresLocked();
}

void TActivityLog::AddUpload(std::int64_t Value) {
  if (Value <= 0) return;
  std::lock_guard lock(mutex_);
  indicadores_.TotalEnviado += Value;
  indicadores_.lblUpload = util::FormatarTamanho(indicadores_.TotalEnviado);
  NotifyIndicadoresLocked();
}

void TActivityLog::ContarFalha(TFalha falha) {
  std::lock_guard lock(mutex_);
  switch (falha) {
    case TFalha::Soap: ++indicadores_.FalhasSoap; break;
    case TFalha::ResultadoFalse: ++indicadores_.ResultadosFalse; break;
    case TFalha::Recusa: ++indicadores_.Recusas; break;
  }
  NotifyIndicadoresLocked();
}

void TActivityLog::SessoesMudaram() {
  std::lock_guard lock(mutex_);
  ContarSessoesLocked();
  NotifyIndicadoresLocked();
}

void TActivityLog::ContarSessoesLocked() {
  indicadores_.SessoesAbertas =
      contar_sessoes_ ? static_cast<std::int64_t>(contar_sessoes_()) : 0;
}

void TActivityLog::ZerarIndicadores() {
  std::lock_guard lock(mutex_);
  indicadores_ = TIndicadores{};
  ContarSessoesLocked();
  NotifyIndicadoresLocked();
}

void TActivityLog::NotifyIndicadoresLocked() {
  for (IActivityObserver* o : observers_) o->IndicatorsChanged(indicadores_);
}

TIndicadores TActivityLog::Indicadores() const {
  std::lock_guard lock(mutex_);
  return indicadores_;
}

std::size_t TActivityLog::RowCount() const {
  std::lock_guard lock(mutex_);
  return cliLogs_.size();
}

TLogRow TActivityLog::Row(std::size_t index) const {
  std::lock_guard lock(mutex_);
  return cliLogs_.at(index);
}

std::vector<TLogRow> TActivityLog::Rows() const {
  std::lock_guard lock(mutex_);
  return {cliLogs_.begin(), cliLogs_.end()};
}

void TActivityLog::AddObserver(IActivityObserver* observer) {
  std::lock_guard lock(mutex_);
  if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
    observers_.push_back(observer);
}

void TActivityLog::RemoveObserver(IActivityObserver* observer) {
  std::lock_guard lock(mutex_);
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void TOperationTiming::SetDtaInicio(util::TDateTime start) {
  dta_inicio_ = start != 0 ? start : log_->Now();
  SetDtaTermino();
}

void TOperationTiming::SetDtaTermino() {
  dta_termino_ = log_->Now();
  tempo_execucao_ = dta_termino_ - dta_inicio_;
}

}  // namespace orv::op
