// The headless daemon orvwsd: the same start-up spine and order as the window, without a window.
// The port comes from orvws.ini beside the executable; the daemon always starts listening; the
// log lines go to the daily file and also to standard output; errors go to standard error; it
// shuts down like the window's closing steps on SIGINT/SIGTERM (Windows: console control
// events). A start-up failure ends it with a non-zero exit status.
//
// Options: none to serve; --check runs the same start (configuration, connections, settings
// file, IpLocal, the listener's bind) without writing a log line or leaving a file, prints what
// would be served and ends (0, or 1 with the start-up error on standard error); --version;
// --help. Anything else is a usage error (status 2).
//
// Thread safety: ExecutarDaemon runs on the main thread; TSaidaLog is called by the log from
// any thread and writes on a thread of its own, so a slow or full standard output never holds
// a connection thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "operator/activity_log.h"
#include "operator/frm_principal_core.h"
#include "util/env.h"

namespace orv::startup {

// Exit statuses of the daemon.
inline constexpr int kSaidaOk = 0;
inline constexpr int kSaidaFalhaInicio = 1;
inline constexpr int kSaidaUso = 2;   // an option that is not understood

// Lines kept for standard output while it is slower than the log; past this they are dropped
// (and counted) rather than making the writers wait.
inline constexpr std::size_t kMaxLinhasPendentes = 10000;

// How long the standard-output writer lets lines gather once one is waiting: under load a
// wake-up of its thread per line would cost the request threads more than the copy itself.
inline constexpr std::chrono::milliseconds kPausaSaida{20};

// Copies each new log row, as its file line, to a stream.
class TSaidaLog final : public op::IActivityObserver {
 public:
  explicit TSaidaLog(std::FILE* destino);
  ~TSaidaLog() override;   // writes what is pending, then ends its thread
  void RowAppended(std::size_t index, const op::TLogRow& row) override;
  void IndicatorsChanged(const op::TIndicadores&) override {}

 private:
  void Escrever();

  std::FILE* destino_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::string> pendentes_;
  std::size_t descartadas_ = 0;
  bool fim_ = false;
  std::thread thread_;
};

// The daemon's side of IPrincipalView: the port text from the settings file, auto-start always
// on, error boxes to standard error.
class TVisaoDaemon final : public op::IPrincipalView {
 public:
  explicit TVisaoDaemon(std::FILE* erros) : erros_(erros) {}
  std::string PortText() const override { return porta_; }
  void SetPortText(const std::string& text) override { porta_ = text; }
  bool AutoStart() const override { return true; }
  void SetAutoStart(bool) override {}
  void SetPanel(int, const std::string&) override {}
  void MostrarErro(const std::string& text) override;
  void FocusPort() override {}
  int Erros() const { return erros_mostrados_; }

 private:
  std::FILE* erros_;
  std::string porta_;
  int erros_mostrados_ = 0;
};

// What the command line asks for.
enum class TModoDaemon { Servir, Verificar, Versao, Ajuda, Erro };
struct TLinhaDeComando {
  TModoDaemon modo = TModoDaemon::Servir;
  std::string erro;   // with Erro: what was not understood
};
TLinhaDeComando LerLinhaDeComando(int argc, const char* const* argv);
std::string TextoAjuda();
std::string TextoVersao();

// The whole daemon, by its command line, on the machine `env`; returns the process's exit
// status.
int ExecutarDaemon(int argc, const char* const* argv, util::Env& env);

}  // namespace orv::startup
