#include "host/startup/servico.h"

#include <atomic>
#include <mutex>
#include <stdexcept>

#include "data/config/configuracao.h"
#include "host/proxy_protocol.h"
#include "host/startup/arq_ini.h"
#include "host/startup/limites.h"
#include "host/startup/plataforma.h"
#include "host/web_module.h"
#include "service/orvws.h"
#include "soap/http_soap_dispatcher.h"
#include "soap/publish/web_publish.h"
#include "soap/publish/wsdl_publisher.h"
#include "soap/registry.h"

namespace orv::startup {

namespace {

// The running service, for the TOrvWs class registered once per process.
std::atomic<TServicoOrvWs*> g_servico{nullptr};

// The SOAP endpoint as a dispatching component of the web module.
class SoapDispatch final : public host::IWebDispatch {
 public:
  bool Enabled() const override { return d_.Enabled; }
  host::TMethodType MethodType() const override { return d_.MethodType; }
  std::string PathInfo() const override { return d_.PathInfo; }
  bool DispatchRequest(host::TWebRequest& rq, host::TWebResponse& rs) override {
    return d_.Dispatch(rq, rs);
  }

 private:
  soap::THTTPSoapDispatcher d_;
};

class ServidorHttp final : public IServidorHttp {
 public:
  ServidorHttp(host::TWebRequestHandler& handler, op::TActivityLog* log,
               host::HttpServerOptions opcoes)
      : servidor_(std::move(opcoes)) {
    servidor_.SetOnCommand([&handler](host::HttpExchange& ex) { host::ServeWebRequest(handler, ex); });
    if (log) {
      // A response that could not be sent (the client went away) is reported in the log.
      servidor_.SetOnSendError([log](const std::string& mensagem) {
        try {
          op::TOperationTiming marcas(*log);
          marcas.SetDtaInicio();
          marcas.WriteLog("Erro ao enviar resposta: " + mensagem, false);
        } catch (...) {
        }
      });
    }
  }
  bool Active() const override { return servidor_.Active(); }
  void Iniciar(std::uint16_t porta) override {
    servidor_.ClearBindings();
    servidor_.SetDefaultPort(porta);
    servidor_.Start();
  }
  void Parar() override {
    servidor_.Stop();
    servidor_.ClearBindings();
  }

 private:
  host::THttpServer servidor_;
};

}  // namespace

std::unique_ptr<IServidorHttp> CriarServidorHttp(host::TWebRequestHandler& handler,
                                                 op::TActivityLog* log,
                                                 host::HttpServerOptions opcoes) {
  return std::make_unique<ServidorHttp>(handler, log, std::move(opcoes));
}

std::string CaminhoIniPadrao() {
  return PastaExecutavel() + SeparadorPasta() + std::string(kArquivoIni);
}

TServicoOrvWs::TServicoOrvWs(OpcoesServico opcoes) : opcoes_(std::move(opcoes)) {
  TServicoOrvWs* esperado = nullptr;
  if (!g_servico.compare_exchange_strong(esperado, this))
    throw std::logic_error("TServicoOrvWs: only one service per process");
}

TServicoOrvWs::~TServicoOrvWs() {
  handler_.reset();   // every web module, with its components
  dm_.reset();        // the per-user connections and the management connections
  log_.reset();
  g_servico.store(nullptr);
}

void TServicoOrvWs::RegistrarInterfaces() {
  static std::once_flag uma_vez;
  std::call_once(uma_vez, [] {
    soap::publish::RegisterWSDLPublish(soap::Registry());
    soap::RegisterOrvWsInterface(soap::Registry());
    soap::Registry().RegisterInvokableClass(soap::MakeInvokableClass<service::TOrvWs>(
        std::string(soap::kOrvWsClassName), [](const soap::CallContext& ctx) {
          TServicoOrvWs* s = g_servico.load();
          if (s == nullptr || !s->dm_ || !s->log_)
            throw std::runtime_error("O serviço não está iniciado");
          return std::make_unique<service::TOrvWs>(ctx, *s->dm_, *s->log_);
        }));
  });
}

void TServicoOrvWs::PrepararRequestHandler() {
  if (handler_) return;
  handler_ = std::make_unique<host::TWebRequestHandler>();
  handler_->SetWebModuleClass(host::WebModulePrincipalClass([this] {
    host::TWebModuleComponents c;
    c.HTTPSoapDispatcher1 = std::make_unique<SoapDispatch>();
    soap::publish::AddPublisher(c);   // WSDLHTMLPublish1 and its service page
    c.AddUpload = [this](std::int64_t bytes) {
      if (log_) log_->AddUpload(bytes);
    };
    return c;
  }));
}

std::string TServicoOrvWs::DataModuleCreate() {
  try {
    auto dm = std::make_unique<service::TDmDados>();
    if (opcoes_.criar_data_module)
      opcoes_.criar_data_module(*dm);
    else
      dm->DataModuleCreate();
    // The log lives under the installation folder that the configuration was read from.
    op::ActivityLogOptions o = opcoes_.log;
    o.PastaLogs = op::PastaLogsDe(opcoes_.pasta_sistema ? opcoes_.pasta_sistema()
                                                        : data::ObterPastaSistema());
    log_ = std::make_unique<op::TActivityLog>(std::move(o));
    dm_ = std::move(dm);
    return {};
  } catch (const std::exception& e) {
    return e.what();
  }
}

PecasPrincipal TServicoOrvWs::Pecas(std::string caminho_ini) {
  if (!dm_ || !log_) throw std::logic_error("TServicoOrvWs::Pecas before DataModuleCreate");
  PrepararRequestHandler();
  PecasPrincipal p;
  // The trusted proxies are read when the listener is made, as the port is when the window is;
  // an address that is not one stops the window's creation with its message.
  p.criar_servidor = [this, ini = caminho_ini] {
    host::HttpServerOptions o = opcoes_.http;
    o.trusted_proxies = host::ParseTrustedProxies(
        TArqIni(ini).ReadString(kSecaoConf, kChaveProxiesConfiaveis, ""));
    return CriarServidorHttp(*handler_, log_.get(), std::move(o));
  };
  p.esvaziar_sessoes = [this] { dm_->CdsAuth().EmptyDataSet(); };
  p.ip_local = opcoes_.ip_local ? opcoes_.ip_local : std::function<std::string()>(PrimeiroIpLocal);
  p.tipo_banco = data::TipoBanco();
  p.local_gestao = data::LocalGestao();
  p.log = log_.get();
  p.caminho_ini = std::move(caminho_ini);
  return p;
}

}  // namespace orv::startup
