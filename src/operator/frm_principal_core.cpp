#include "operator/frm_principal_core.h"

#include <stdexcept>
#include <utility>

#include "operator/operator_limits.h"

namespace orv::op {

std::string TextoDeExcecao(const std::string& message) {
  // Any byte of a multi-byte UTF-8 character is above '.', as is the character itself.
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

std::string TextoInteiroInvalido(const std::string& text) {
  return "''" + text + "'' is not a valid integer value";
}

std::int32_t StrToInt(const std::string& text) {
  // A number in the settings file and in the port field follows the same rules.
  const auto valor = util::InteiroDoIni(text);
  if (!valor || text.empty() || text.front() == ' ' || text.back() == ' ')
    throw std::invalid_argument(TextoInteiroInvalido(text));
  return *valor;
}

std::string NomeTipoBanco(std::int32_t tipo_banco) {
  switch (tipo_banco) {
    case 0: return "Firebird";
    case 1: return "Interbase";
    case 2: return "SQL Server";
    default: return "Oracle";
  }
}

TFrmPrincipalCore::TFrmPrincipalCore(PecasPrincipal pecas, IPrincipalView& view)
    : pecas_(std::move(pecas)), view_(view) {
  if (pecas_.log == nullptr) throw std::invalid_argument("TFrmPrincipalCore: no activity log");
  if (pecas_.env == nullptr) throw std::invalid_argument("TFrmPrincipalCore: no Env");
}

// A listener still active here is stopped by its own destructor.
TFrmPrincipalCore::~TFrmPrincipalCore() = default;

void TFrmPrincipalCore::SetPanel(int index, std::string text) {
  paineis_.at(static_cast<std::size_t>(index)) = text;
  view_.SetPanel(index, text);
}

std::string TFrmPrincipalCore::TextoPainelLogs() const {
  return "Pasta de LOGs: " + pecas_.log->PastaLogs() + ", Últ. Gerado: " + pecas_.log->ArquivoLog();
}

void TFrmPrincipalCore::ArquivoLogMudou() {
  if (!paineis_[2].empty()) SetPanel(2, TextoPainelLogs());
}

bool TFrmPrincipalCore::FormCreate() {
  try {
    TActivityLog& log = *pecas_.log;
    // 1. Timing marks and counters.
    marcas_.emplace(log);
    marcas_->SetDtaInicio();
    log.ZerarIndicadores();
    // 2. The listener, not yet listening.
    servidor_ = pecas_.criar_servidor();
    // 3-4. The host's address; status bar panels 0 and 1.
    ip_local_ = pecas_.ip_local();
    SetPanel(0, "IP: " + ip_local_);
    SetPanel(1, "GESTAO: " + pecas_.local_gestao + ", Tipo: " + NomeTipoBanco(pecas_.tipo_banco));
    // 5. Settings file; the port field and the auto-start box.
    arq_ini_ = std::make_unique<util::TArqIni>(pecas_.caminho_ini, *pecas_.env);
    view_.SetPortText(std::to_string(
        arq_ini_->ReadInteger(kSecaoConf, kChaveNumPorta, kPortaPadrao)));
    view_.SetAutoStart(arq_ini_->ReadBool(kSecaoConf, kChaveIniAut, false));
    // 6-7. (cliLogs lives in the log.) Log folder and file.
    log.CreateFolder();
    marcas_->WriteLog("", false);
    // 8. Panel 2.
    SetPanel(2, TextoPainelLogs());
    // 9-10. The two opening lines.
    const bool auto_start = view_.AutoStart();
    marcas_->SetDtaTermino();
    marcas_->WriteLog(std::string("Aplicação aberta, status do serviço: ") +
                          (auto_start ? "Iniciando" : "Parado"),
                      false);
    marcas_->SetDtaInicio();
    marcas_->WriteLog("Informações:: " + paineis_[0] + ", " + paineis_[1], false);
    // 11. Auto-start, exactly as a press of btnIniciar.
    if (auto_start) ChangeStatusServerExecute();
    return true;
  } catch (const std::exception& e) {
    view_.MostrarErro(TextoDeExcecao(e.what()));
    return false;
  }
}

void TFrmPrincipalCore::ChangeStatusServerExecute() {
  if (pecas_.esvaziar_sessoes) pecas_.esvaziar_sessoes();
  if (!servidor_) return;
  try {
    if (servidor_->Active())
      Parar();
    else
      Iniciar();
  } catch (const std::exception& e) {
    view_.MostrarErro(TextoDeExcecao(e.what()));
  }
}

void TFrmPrincipalCore::Parar() {
  marcas_->SetDtaInicio();
  servidor_->Parar();
  marcas_->SetDtaTermino();
  marcas_->WriteLog("Aplicação(" + ip_local_ + "), Serviço parado", false);
}

void TFrmPrincipalCore::Iniciar() {
  const std::string texto = view_.PortText();
  const std::int32_t porta = StrToInt(texto);
  if (porta > kPortaMaxima || porta < kPortaMinima) {
    view_.MostrarErro(std::string(kMsgPortaInvalida));
    view_.FocusPort();
    return;
  }
  try {
    marcas_->SetDtaInicio();
    servidor_->Iniciar(static_cast<std::uint16_t>(porta));
    marcas_->SetDtaTermino();
    marcas_->WriteLog("Aplicação(" + ip_local_ + "), Serviço iniciado na porta " + texto, false);
  } catch (const std::exception&) {
    view_.MostrarErro(std::string(kMsgPortaNaoPermitida));
    view_.FocusPort();
  }
}

EstadoControles TFrmPrincipalCore::ChangeStatusServerUpdate() const {
  EstadoControles e;
  e.ativo = Ativo();
  e.btnParar_visible = e.btnParar_enabled = e.ativo;
  e.btnIniciar_visible = e.btnIniciar_enabled = !e.ativo;
  e.edtNumPorta_enabled = !e.ativo;
  e.lblLink_enabled = e.ativo;
  e.lblLink = e.ativo ? "http://" + ip_local_ + ":" + view_.PortText() : std::string();
  e.lblStatus = e.ativo ? "Rodando em: " : "Pausado";
  return e;
}

void TFrmPrincipalCore::edtNumPortaChange() {
  try {
    const std::int32_t porta = StrToInt(view_.PortText());
    if (arq_ini_) arq_ini_->WriteInteger(kSecaoConf, kChaveNumPorta, porta);
  } catch (const std::exception& e) {
    view_.MostrarErro(TextoDeExcecao(e.what()));
  }
}

void TFrmPrincipalCore::ckbIniAutClick() {
  try {
    if (arq_ini_) arq_ini_->WriteBool(kSecaoConf, kChaveIniAut, view_.AutoStart());
  } catch (const std::exception& e) {
    view_.MostrarErro(TextoDeExcecao(e.what()));
  }
}

void TFrmPrincipalCore::FormClose() {
  const bool ativo = Ativo();
  // A log that cannot be written must not keep the process from ending: the error is shown
  // once, the listener is still stopped, and the remaining lines are skipped.
  bool log_ok = marcas_.has_value();
  auto linha = [&](const std::string& texto) {
    if (!log_ok) return;
    try {
      marcas_->WriteLog(texto, false);
    } catch (const std::exception& e) {
      log_ok = false;
      view_.MostrarErro(TextoDeExcecao(e.what()));
    }
  };
  if (marcas_) marcas_->SetDtaInicio();
  linha(std::string("Aplicação encerrada, ") + (ativo ? "parando serviço" : "serviço parado"));
  const TIndicadores ind = pecas_.log->Indicadores();
  linha("Aplicação recebeu " + ind.lblNumRequisicoes +
        " requisição(ões) com tempo médio de execução de " + ind.lblTmpMedio);
  if (ativo) {
    if (log_ok) {
      ChangeStatusServerExecute();
    } else {
      if (pecas_.esvaziar_sessoes) pecas_.esvaziar_sessoes();
      servidor_->Parar();
    }
    if (servidor_->Active()) servidor_->Parar();  // a failed stop line still stops it
  }
  linha("Aplicação encerrada");
}

}  // namespace orv::op
