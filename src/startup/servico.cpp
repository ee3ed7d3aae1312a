#include "startup/servico.h"

#include <stdexcept>
#include <string_view>

#include "data/config/configuracao.h"
#include "host/proxy_protocol.h"
#include "host/web_module.h"
#include "service/orvws.h"
#include "soap/http_soap_dispatcher.h"
#include "soap/orvws_intf.h"
#include "soap/publish/web_publish.h"
#include "soap/publish/wsdl_publisher.h"
#include "soap/registry.h"
#include "operator/operator_limits.h"
#include "startup/plataforma.h"
#include "util/ini.h"
#include "util/platform.h"

namespace orv::startup {

namespace {

// TOrvWs as the registry makes it for each call: the operations themselves and, beside them,
// the operator's count of "false" answers and of open sessions (Auth opens and ends them).
class TOrvWsContado final : public soap::IOrvWs {
 public:
  TOrvWsContado(const soap::CallContext& ctx, service::TDmDados& dm, op::TActivityLog& log)
      : orvws_(ctx, dm, log), log_(log) {}

  bool Auth(const std::string& KeyValue, const std::string& UserName) override {
    bool ok = false;
    try {
      ok = orvws_.Auth(KeyValue, UserName);
    } catch (...) {
      log_.SessoesMudaram();   // a failed Auth has ended the address's session
      throw;
    }
    log_.SessoesMudaram();
    if (!ok) log_.ContarFalha(op::TFalha::ResultadoFalse);
    return ok;
  }
  std::string Exec(const std::string& Value) override {
    std::string r = orvws_.Exec(Value);
    if (r.find(kStatementFalse) != std::string::npos) log_.ContarFalha(op::TFalha::ResultadoFalse);
    return r;
  }
  std::string GetSQL(const std::string& Value) override { return orvws_.GetSQL(Value); }
  std::vector<std::string> GetSQLEmPartes(const std::string& Value) override {
    return orvws_.GetSQLEmPartes(Value);
  }
  std::string AddItemPesquisa(std::int32_t CodPesquisa, std::int32_t CodConcorrente,
                              const std::string& CodEan, float ValPesquisa) override {
    std::string r = orvws_.AddItemPesquisa(CodPesquisa, CodConcorrente, CodEan, ValPesquisa);
    if (r == kItemFalse) log_.ContarFalha(op::TFalha::ResultadoFalse);
    return r;
  }

 private:
  // Exec answers "true;" or "false;" and a line end per statement; AddItemPesquisa answers
  // "false" when the price was not recorded.
  static constexpr std::string_view kStatementFalse = "false;";
  static constexpr std::string_view kItemFalse = "false";

  service::TOrvWs orvws_;
  op::TActivityLog& log_;
};

class ServidorHttp final : public op::IServidorHttp {
 public:
  ServidorHttp(host::TWebRequestHandler& handler, op::TActivityLog* log,
               host::HttpServerOptions opcoes)
      : servidor_(std::move(opcoes)) {
    servidor_.SetOnCommand([&handler, log](host::HttpExchange& ex) {
      try {
        host::ServeWebRequest(handler, ex);
      } catch (...) {
        // The listener answers it with status 500 and the error's text: a refused request
        // (every web module busy, or an error that no module answered).
        if (log) log->ContarFalha(op::TFalha::Recusa);
        throw;
      }
    });
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

std::unique_ptr<op::IServidorHttp> CriarServidorHttp(host::TWebRequestHandler& handler,
                                                 op::TActivityLog* log,
                                                 host::HttpServerOptions opcoes) {
  return std::make_unique<ServidorHttp>(handler, log, std::move(opcoes));
}

std::string CaminhoIniPadrao(util::Env& env) {
  return PastaExecutavel(env) + util::platform::kFolderSeparator + std::string(op::kArquivoIni);
}

TServicoOrvWs::TServicoOrvWs(OpcoesServico opcoes, util::Env& env)
    : opcoes_(std::move(opcoes)),
      env_(env),
      publicacao_(soap::publish::PublisherSettings::ForExecutable(env_.ExecutablePath(), env_)) {
  soap::publish::RegisterWSDLPublish(registry_);
  soap::RegisterOrvWsInterface(registry_);
  registry_.RegisterInvokableClass(soap::MakeInvokableClass<TOrvWsContado, soap::IOrvWs>(
      std::string(soap::kOrvWsClassName), [this](const soap::CallContext& ctx) {
        if (!dm_ || !log_) throw std::runtime_error("O serviço não está iniciado");
        return std::make_unique<TOrvWsContado>(ctx, *dm_, *log_);
      }));
}

TServicoOrvWs::~TServicoOrvWs() {
  handler_.reset();   // every web module, with its components
  dm_.reset();        // the per-user connections and the management connections
  log_.reset();
}

void TServicoOrvWs::ContarFalhaSoap() noexcept {
  try {
    if (log_) log_->ContarFalha(op::TFalha::Soap);
  } catch (...) {
    // A count that cannot be made must not take the request down.
  }
}

void TServicoOrvWs::PrepararRequestHandler() {
  if (handler_) return;
  handler_ = std::make_unique<host::TWebRequestHandler>();
  handler_->SetWebModuleClass(host::WebModulePrincipalClass([this] {
    host::TWebModuleComponents c;
    c.HTTPSoapDispatcher1 =
        std::make_unique<soap::THTTPSoapDispatcher>(registry_, [this] { ContarFalhaSoap(); });
    // WSDLHTMLPublish1 and its service page
    soap::publish::AddPublisher(c, std::make_unique<soap::publish::TWSDLHTMLPublish>(
                                       registry_, publicacao_));
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
      dm->DataModuleCreate(env_);
    // The log lives under the installation folder that the configuration was read from.
    op::ActivityLogOptions o = opcoes_.log;
    std::string pasta =
        opcoes_.pasta_sistema ? opcoes_.pasta_sistema() : data::ObterPastaSistema(env_);
    o.PastaLogs = op::PastaLogsDe(pasta);
    o.contar_sessoes = [cds = &dm->CdsAuth()] { return cds->RecordCount(); };
    log_ = std::make_unique<op::TActivityLog>(std::move(o), env_);
    dm_ = std::move(dm);
    pasta_sistema_ = std::move(pasta);
    return {};
  } catch (const std::exception& e) {
    return e.what();
  }
}

op::PecasPrincipal TServicoOrvWs::Pecas(std::string caminho_ini) {
  if (!dm_ || !log_) throw std::logic_error("TServicoOrvWs::Pecas before DataModuleCreate");
  if (caminho_ini.empty()) caminho_ini = CaminhoIniPadrao(env_);
  PrepararRequestHandler();
  op::PecasPrincipal p;
  // The trusted proxies are read when the listener is made, as the port is when the window is;
  // an address that is not one stops the window's creation with its message.
  p.criar_servidor = [this, ini = caminho_ini] {
    host::HttpServerOptions o = opcoes_.http;
    o.trusted_proxies = host::ParseTrustedProxies(
        util::TArqIni(ini, env_).ReadString(op::kSecaoConf, op::kChaveProxiesConfiaveis, ""));
    return CriarServidorHttp(*handler_, log_.get(), std::move(o));
  };
  p.esvaziar_sessoes = [this] {
    dm_->CdsAuth().EmptyDataSet();
    log_->SessoesMudaram();
  };
  p.ip_local = opcoes_.ip_local ? opcoes_.ip_local : std::function<std::string()>(PrimeiroIpLocal);
  p.tipo_banco = dm_->TipoBanco();
  p.local_gestao = dm_->LocalGestao();
  p.log = log_.get();
  p.caminho_ini = std::move(caminho_ini);
  p.env = &env_;
  return p;
}

}  // namespace orv::startup
