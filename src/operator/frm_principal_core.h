// TFrmPrincipalCore: the share of the main window that does not depend on a window toolkit —
// its creation steps (FormCreate), the server control (ChangeStatusServer execute and update),
// the settings-file handlers (edtNumPortaChange, ckbIniAutClick) and its closing steps
// (FormClose). The Qt window and the headless daemon both drive this object, so both write the
// same log lines in the same order.
//
// What the operator sees and touches is behind IPrincipalView: the window maps it onto its
// widgets and message boxes, the daemon onto its settings and standard error.
//
// Thread safety: every method runs on the main thread. The activity log it writes to is
// shared with the connection threads and does its own locking.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "operator/activity_log.h"
#include "util/env.h"
#include "util/ini.h"

namespace orv::op {

// The HTTP listener as the server control uses it.
class IServidorHttp {
 public:
  virtual ~IServidorHttp() = default;
  virtual bool Active() const = 0;
  // Clears the bindings, sets the port and activates; raises when any binding fails, with
  // nothing left listening.
  virtual void Iniciar(std::uint16_t porta) = 0;
  // Deactivates and clears the bindings; returns when every connection has ended.
  virtual void Parar() = 0;
};

// The operator's side.
class IPrincipalView {
 public:
  virtual ~IPrincipalView() = default;
  virtual std::string PortText() const = 0;               // edtNumPorta
  virtual void SetPortText(const std::string& text) = 0;
  virtual bool AutoStart() const = 0;                     // ckbIniAut
  virtual void SetAutoStart(bool checked) = 0;
  virtual void SetPanel(int index, const std::string& text) = 0;   // status bar 0..2
  // An error box (error icon, OK button, the application's title) with exactly this text.
  virtual void MostrarErro(const std::string& text) = 0;
  virtual void FocusPort() = 0;
};

// The states of the controls that ChangeStatusServer update sets.
struct EstadoControles {
  bool ativo = false;
  bool btnIniciar_visible = true, btnIniciar_enabled = true;
  bool btnParar_visible = false, btnParar_enabled = false;
  bool edtNumPorta_enabled = true;
  bool lblLink_enabled = false;
  std::string lblLink;
  std::string lblStatus = "Pausado";
  bool operator==(const EstadoControles&) const = default;
};

// The text an error box shows for an error raised in a handler: a final "." is added when the
// text ends in a character that sorts after ".".
std::string TextoDeExcecao(const std::string& message);
// "''%s'' is not a valid integer value" for a text that is not an integer.
std::string TextoInteiroInvalido(const std::string& text);
// The port field's text as an integer (decimal, or hexadecimal after "0x"); raises
// std::invalid_argument with TextoInteiroInvalido otherwise.
std::int32_t StrToInt(const std::string& text);
// "Firebird", "Interbase", "SQL Server" or "Oracle".
std::string NomeTipoBanco(std::int32_t tipo_banco);

// The messages of the server control.
inline constexpr std::string_view kMsgPortaInvalida = "Número de porta inválido!";
inline constexpr std::string_view kMsgPortaNaoPermitida =
    "Número de porta não permitido, provavelmente outro serviço está utilizando esta porta!";

// What the window's share needs from the rest of the process.
struct PecasPrincipal {
  std::function<std::unique_ptr<IServidorHttp>()> criar_servidor;   // FServer
  std::function<void()> esvaziar_sessoes;                          // empties CdsAuth
  std::function<std::string()> ip_local;                           // the host's first address
  std::int32_t tipo_banco = 0;
  std::string local_gestao;
  TActivityLog* log = nullptr;                                 // not owned
  std::string caminho_ini;                                         // orvws.ini beside the program
  util::Env* env = &util::Env::Default();                          // of orvws.ini; not owned
};

class TFrmPrincipalCore {
 public:
  TFrmPrincipalCore(PecasPrincipal pecas, IPrincipalView& view);
  ~TFrmPrincipalCore();
  TFrmPrincipalCore(const TFrmPrincipalCore&) = delete;
  TFrmPrincipalCore& operator=(const TFrmPrincipalCore&) = delete;

  // The creation steps in their fixed order. An error stops the remaining steps and is shown;
  // returns whether every step was done.
  bool FormCreate();
  // The closing steps: closing-state and summary lines, stop when active, "Aplicação encerrada".
  void FormClose();

  // The daily log rolled over (on the main thread, after the log told of it): panel 2, once
  // filled, names the new day's file.
  void ArquivoLogMudou();

  void ChangeStatusServerExecute();
  EstadoControles ChangeStatusServerUpdate() const;
  void edtNumPortaChange();
  void ckbIniAutClick();

  bool Ativo() const { return servidor_ && servidor_->Active(); }
  const std::string& IpLocal() const { return ip_local_; }
  const std::string& Painel(int index) const { return paineis_.at(static_cast<std::size_t>(index)); }
  util::TArqIni* ArqIni() { return arq_ini_.get(); }
  IServidorHttp* Servidor() { return servidor_.get(); }

 private:
  void Parar();
  void Iniciar();
  void SetPanel(int index, std::string text);
  std::string TextoPainelLogs() const;

  PecasPrincipal pecas_;
  IPrincipalView& view_;
  std::unique_ptr<IServidorHttp> servidor_;
  std::unique_ptr<util::TArqIni> arq_ini_;
  std::optional<TOperationTiming> marcas_;   // the window's own timing marks
  std::string ip_local_;
  std::array<std::string, 3> paineis_;
};

}  // namespace orv::op
