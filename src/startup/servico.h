// TServicoOrvWs: the start-up spine that both programs drive. It owns, in the order they are
// made, the request handler with TWebModulePrincipal as its module class (wired to the real SOAP
// endpoint, WSDL publisher, service page and the bytes-sent indicator), the data module
// TDmDados and the activity log; and it hands the window's share (TFrmPrincipalCore) the
// pieces it works with, including a factory for the listener FServer.
//
// Start, in this order: the constructor (its registry gets IWSDLPublish, then IOrvWs with
// TOrvWs bound to this object's data module and log), PrepararRequestHandler, [the window toolkit], DataModuleCreate (a failure yields the
// exact message to show, and the program ends without a window, a log file or a listening
// socket), then the main window or the daemon with Pecas(). Shutdown: the form's closing steps,
// the form (its listener stops on destruction, closing every connection), then this object:
// the request handler with its web modules, the data module, the log.
//
// The operator's failure indicators are counted here, where the pieces meet: the SOAP
// dispatcher's fault hook, the registered TOrvWs (its "false" answers, and the open sessions
// after each Auth and each emptying of the session table) and the listener's command handler
// (requests it answers with status 500).
//
// Thread safety: every method runs on the main thread. Request threads reach the data module
// and the log through the objects made here, which lock for themselves.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "host/http_server.h"
#include "host/request_handler.h"
#include "operator/activity_log.h"
#include "service/dm_dados.h"
#include "soap/publish/wsdl_publisher.h"
#include "soap/registry.h"
#include "operator/frm_principal_core.h"
#include "util/env.h"

namespace orv::startup {

struct OpcoesServico {
  // The installation folder, root of the log folder; empty: ObterPastaSistema.
  std::function<std::string()> pasta_sistema;
  // The data module's creation; empty: TDmDados::DataModuleCreate (SCONF.xml of the
  // installation folder found through PATH).
  std::function<void(service::TDmDados&)> criar_data_module;
  // The host's first address; empty: PrimeiroIpLocal.
  std::function<std::string()> ip_local;
  // The activity log's settings (PastaLogs and the session count are set here).
  op::ActivityLogOptions log;
  // Listener settings (tests shorten its time-outs).
  host::HttpServerOptions http;
};

// orvws.ini beside the executable.
std::string CaminhoIniPadrao(util::Env& env);

class TServicoOrvWs {
 public:
  // Every piece made here reaches the machine through `env`, which must outlive this object.
  explicit TServicoOrvWs(OpcoesServico opcoes = {}, util::Env& env = util::Env::Default());
  ~TServicoOrvWs();
  TServicoOrvWs(const TServicoOrvWs&) = delete;
  TServicoOrvWs& operator=(const TServicoOrvWs&) = delete;

  // The request handler, with TWebModulePrincipal as its web module class.
  void PrepararRequestHandler();
  // The data module (connection list, Conectar, key, empty session table) and then the activity
  // log. Returns an empty text, or the message to show when the start must end.
  std::string DataModuleCreate();

  // What the main window (or the daemon) needs; only after DataModuleCreate succeeded. An empty
  // caminho_ini: orvws.ini beside the executable.
  op::PecasPrincipal Pecas(std::string caminho_ini = {});

  service::TDmDados& Dm() { return *dm_; }
  op::TActivityLog& Log() { return *log_; }
  bool LogPronto() const { return log_ != nullptr; }
  // The installation folder the log lives under (after DataModuleCreate).
  const std::string& PastaSistema() const { return pasta_sistema_; }
  host::TWebRequestHandler& RequestHandler() { return *handler_; }
  // IWSDLPublish with TWSDLPublish, then IOrvWs with TOrvWs; each TOrvWs is made for one call,
  // bound to this object's data module and log.
  const soap::InterfaceRegistry& Registry() const { return registry_; }

 private:
  // Counts a fault envelope of the SOAP endpoint (request threads).
  void ContarFalhaSoap() noexcept;

  OpcoesServico opcoes_;
  util::Env& env_;
  soap::InterfaceRegistry registry_;
  // The program's name and port file for the published documents, from its own path.
  soap::publish::PublisherSettings publicacao_;
  std::string pasta_sistema_;
  std::unique_ptr<op::TActivityLog> log_;
  std::unique_ptr<service::TDmDados> dm_;
  std::unique_ptr<host::TWebRequestHandler> handler_;
};

// The listener FServer behind IServidorHttp, serving through a request handler; an error while
// sending a response is written to the log.
std::unique_ptr<op::IServidorHttp> CriarServidorHttp(host::TWebRequestHandler& handler,
                                                 op::TActivityLog* log,
                                                 host::HttpServerOptions opcoes = {});

}  // namespace orv::startup
