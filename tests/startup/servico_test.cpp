// The whole service in one process: the real data module on an embedded database, the real
// listener on loopback, the web module with the real SOAP endpoint and publisher, and the
// window's share driven through a recording view.
#include "startup/servico.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "instalacao.h"
#include "service/orvws.h"

namespace orv::startup {
namespace {

class ViewGravada : public op::IPrincipalView {
 public:
  std::string PortText() const override { return porta; }
  void SetPortText(const std::string& t) override { porta = t; }
  bool AutoStart() const override { return auto_start; }
  void SetAutoStart(bool c) override { auto_start = c; }
  void SetPanel(int, const std::string&) override {}
  void MostrarErro(const std::string& t) override { erros.push_back(t); }
  void FocusPort() override {}
  std::string porta;
  bool auto_start = false;
  std::vector<std::string> erros;
};

const std::string kChave = "7be09a4f2d31e8c6a05f93d7b2e6184c";

OpcoesServico Opcoes() {
  OpcoesServico o;
  o.ip_local = [] { return std::string("127.0.0.1"); };
  return o;
}

// The whole service on a demo installation, its window's share listening on a free port.
class ServicoIniciado {
 public:
  void Iniciar() {
    servico.PrepararRequestHandler();
    ASSERT_EQ(servico.DataModuleCreate(), "");
    core = std::make_unique<op::TFrmPrincipalCore>(servico.Pecas((inst.Raiz() / "orvws.ini").string()),
                                               view);
    ASSERT_TRUE(core->FormCreate());
    view.porta = std::to_string(porta);
    core->ChangeStatusServerExecute();
    ASSERT_TRUE(core->Ativo()) << (view.erros.empty() ? "" : view.erros[0]);
  }

  teste::Instalacao inst;
  TServicoOrvWs servico{Opcoes()};
  ViewGravada view;
  std::unique_ptr<op::TFrmPrincipalCore> core;
  const std::uint16_t porta = teste::PortaLivre();
};

TEST(TServicoOrvWs, ServesCollectorsBetweenStartAndStopAndEmptiesSessions) {
  ServicoIniciado s;
  ASSERT_NO_FATAL_FAILURE(s.Iniciar());
  const teste::Instalacao& inst = s.inst;
  TServicoOrvWs& servico = s.servico;
  ViewGravada& view = s.view;
  op::TFrmPrincipalCore& core = *s.core;
  const std::uint16_t porta = s.porta;

  const std::string resposta =
      teste::PostSoap(porta, "urn:UOrvWsIntf-IOrvWs#Auth", teste::EnvelopeAuth(kChave, "ANA"));
  EXPECT_NE(resposta.find("HTTP/1.1 200 OK"), std::string::npos) << resposta;
  EXPECT_NE(resposta.find(">true</return>"), std::string::npos) << resposta;
  EXPECT_EQ(servico.Dm().CdsAuth().RecordCount(), 1u);
  // The response's body was counted as sent.
  const auto corpo = resposta.substr(resposta.find("\r\n\r\n") + 4);
  EXPECT_EQ(servico.Log().Indicadores().TotalEnviado, static_cast<std::int64_t>(corpo.size()));

  // Any other path gets the service page.
  const std::string pagina = teste::Requisicao(
      porta, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  EXPECT_NE(pagina.find("HTTP/1.1 200 OK"), std::string::npos);
  EXPECT_NE(pagina.find("IOrvWs"), std::string::npos);

  core.ChangeStatusServerExecute();   // stop
  EXPECT_FALSE(core.Ativo());
  EXPECT_EQ(servico.Dm().CdsAuth().RecordCount(), 0u);
  EXPECT_EQ(teste::Requisicao(porta, "GET / HTTP/1.1\r\nHost: x\r\n\r\n"), "");   // nothing listens

  {
    teste::PortaOcupada outro(porta);
    core.ChangeStatusServerExecute();   // start on a port in use
    EXPECT_FALSE(core.Ativo());
    EXPECT_EQ(view.erros, (std::vector<std::string>{std::string(op::kMsgPortaNaoPermitida)}));
  }
  core.ChangeStatusServerExecute();
  EXPECT_TRUE(core.Ativo());
  core.FormClose();
  EXPECT_FALSE(core.Ativo());

  const std::string ip = "Aplicação(127.0.0.1), ";
  const std::vector<std::string> esperadas = {
      "Aplicação aberta, status do serviço: Parado",
      "Informações:: IP: 127.0.0.1, GESTAO: " + (inst.Pasta() / "gestao.fdb").string() +
          ", Tipo: Firebird",
      ip + "Serviço iniciado na porta " + view.porta,
      "Coletor(127.0.0.1 como ANA) autenticado com sucesso!",
      ip + "Serviço parado",
      ip + "Serviço iniciado na porta " + view.porta,
      "Aplicação encerrada, parando serviço",
      "Aplicação recebeu 1 requisição(ões) com tempo médio de execução de " +
          servico.Log().Indicadores().lblTmpMedio,
      ip + "Serviço parado",
      "Aplicação encerrada"};
  EXPECT_EQ(teste::LinhasDoLog(servico.Log().CaminhoArquivo()), esperadas);
}

// The operator's failure counts and open sessions, from real requests: a wrong key, a failed
// statement and a price that was not recorded answer "false"; a broken envelope is a fault;
// answers that did not fail count nothing. The open sessions follow Auth and the stop.
TEST(TServicoOrvWs, FailedOperationsAndOpenSessionsAreCounted) {
  ServicoIniciado s;
  ASSERT_NO_FATAL_FAILURE(s.Iniciar());
  TServicoOrvWs& servico = s.servico;
  op::TFrmPrincipalCore& core = *s.core;
  const std::uint16_t porta = s.porta;

  auto soap = [porta](const std::string& op, const std::string& parametros) {
    return teste::PostSoap(porta, "urn:UOrvWsIntf-IOrvWs#" + op, teste::Envelope(op, parametros));
  };
  const std::string auth_ok = "<KeyValue>" + kChave + "</KeyValue><UserName>ANA</UserName>";
  struct Passo {
    const char* nome;
    std::function<std::string()> pedir;
    const char* resposta;   // a text the answer holds
    std::int64_t falhas_soap, resultados_false, sessoes;   // the counts after it
  };
  const Passo passos[] = {
      {"chave errada", [&] { return soap("Auth", "<KeyValue>x</KeyValue><UserName>ANA</UserName>"); },
       ">false</return>", 0, 1, 0},
      {"Auth", [&] { return soap("Auth", auth_ok); }, ">true</return>", 0, 1, 1},
      {"Exec com erro", [&] { return soap("Exec", "<Value>UPDATE TAB_QUE_NAO_EXISTE SET X = 1</Value>"); },
       "false;", 0, 2, 1},
      {"Exec sem erro",
       [&] { return soap("Exec", "<Value>UPDATE TAB_PRODUTO SET DES_PRODUTO = DES_PRODUTO WHERE 1 = 0</Value>"); },
       "true;", 0, 2, 1},
      {"código de barras desconhecido",
       [&] {
         return soap("AddItemPesquisa", "<CodPesquisa>1</CodPesquisa><CodConcorrente>1</CodConcorrente>"
                                        "<CodEan>0000000000000</CodEan><ValPesquisa>1.5</ValPesquisa>");
       },
       ">false</return>", 0, 3, 1},
      {"envelope quebrado",
       [&] { return teste::PostSoap(porta, "urn:UOrvWsIntf-IOrvWs#Auth", "<SOAP-ENV:Envelope"); },
       "<faultstring>", 1, 3, 1},
      {"GetSQL", [&] { return soap("GetSQL", "<Value>GETUSUARIOS</Value>"); }, "TAB_USUARIO", 1, 3, 1},
  };
  // The counts are made before the answer leaves, so they are final when it arrives.
  for (const Passo& p : passos) {
    const std::string resposta = p.pedir();
    EXPECT_NE(resposta.find(p.resposta), std::string::npos) << p.nome << "\n" << resposta;
    const op::TIndicadores ind = servico.Log().Indicadores();
    EXPECT_EQ(ind.FalhasSoap, p.falhas_soap) << p.nome;
    EXPECT_EQ(ind.ResultadosFalse, p.resultados_false) << p.nome;
    EXPECT_EQ(ind.SessoesAbertas, p.sessoes) << p.nome;
    EXPECT_EQ(ind.Recusas, 0) << p.nome;
  }

  core.ChangeStatusServerExecute();   // stop: the sessions are dropped
  EXPECT_EQ(servico.Log().Indicadores().SessoesAbertas, 0);
  core.FormClose();
}

// A request beyond the web modules in use (and beyond the requests that may wait for one) is
// refused with status 500 and counted as refused.
TEST(CriarServidorHttp, ARefusedRequestIsCounted) {
  testing::TempFolder dir;
  op::TActivityLog log(op::ActivityLogOptions{op::PastaLogsDe(dir.str())});
  host::TWebRequestHandler sem_modulos(0, host::DispatchWait{std::chrono::milliseconds(0), 0});
  auto servidor = CriarServidorHttp(sem_modulos, &log);
  const std::uint16_t porta = teste::PortaLivre();
  servidor->Iniciar(porta);
  const std::string resposta =
      teste::Requisicao(porta, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  servidor->Parar();
  EXPECT_EQ(resposta.rfind("HTTP/1.1 500", 0), 0u) << resposta;
  EXPECT_NE(resposta.find(host::kTooManyConnectionsMessage), std::string::npos);
  EXPECT_EQ(log.Indicadores().Recusas, 1);
  EXPECT_EQ(log.Indicadores().FalhasSoap + log.Indicadores().ResultadosFalse, 0);
}

TEST(TServicoOrvWs, DataModuleFailureGivesTheMessageAndMakesNothingElse) {
  teste::Instalacao inst;
  std::filesystem::remove(inst.Pasta() / "SCONF.xml");
  TServicoOrvWs servico(Opcoes());
  servico.PrepararRequestHandler();
  EXPECT_EQ(servico.DataModuleCreate(),
            "Incapaz de carregar as configurações do i-Orvalen. Mensagem de erro: \n\r"
            "CdsSCONF: Missing data provider or data packet");
  EXPECT_THROW(servico.Pecas(), std::logic_error);
  EXPECT_FALSE(std::filesystem::exists(inst.Logs()));
}

TEST(TServicoOrvWs, BehindATrustedProxyTheCollectorIsTheAddressItsHeaderNames) {
  teste::Instalacao inst;
  TServicoOrvWs servico(Opcoes());
  servico.PrepararRequestHandler();
  ASSERT_EQ(servico.DataModuleCreate(), "");
  const auto ini = inst.Raiz() / "orvws.ini";
  const std::uint16_t porta = teste::PortaLivre();
  std::ofstream(ini) << "[Conf]\nNumPorta=" << porta << "\nProxiesConfiaveis= 10.0.0.1, 127.0.0.1\n";
  ViewGravada view;
  op::TFrmPrincipalCore core(servico.Pecas(ini.string()), view);
  ASSERT_TRUE(core.FormCreate());
  core.ChangeStatusServerExecute();
  ASSERT_TRUE(core.Ativo()) << (view.erros.empty() ? "" : view.erros[0]);

  const std::string corpo = teste::EnvelopeAuth(kChave, "ANA");
  const std::string resposta = teste::Requisicao(
      porta, "PROXY TCP4 10.9.8.7 10.0.0.1 41000 443\r\nPOST /soap/IOrvWs HTTP/1.1\r\nHost: h\r\n"
             "Content-Type: text/xml; charset=utf-8\r\nSOAPAction: \"urn:UOrvWsIntf-IOrvWs#Auth\"\r\n"
             "Content-Length: " + std::to_string(corpo.size()) + "\r\n\r\n" + corpo);
  EXPECT_NE(resposta.find(">true</return>"), std::string::npos) << resposta;
  // This loopback client is a trusted proxy: without a header it gets nothing.
  EXPECT_EQ(teste::PostSoap(porta, "urn:UOrvWsIntf-IOrvWs#Auth", corpo), "");
  core.FormClose();
  const auto linhas = teste::LinhasDoLog(servico.Log().CaminhoArquivo());
  EXPECT_EQ(std::count(linhas.begin(), linhas.end(), "Coletor(10.9.8.7 como ANA) autenticado com sucesso!"), 1)
      << ::testing::PrintToString(linhas);
  EXPECT_EQ(std::count_if(linhas.begin(), linhas.end(),
                          [](const std::string& l) { return l.rfind("Coletor(", 0) == 0; }),
            1);
}

TEST(TServicoOrvWs, ATrustedProxyThatIsNoAddressStopsTheWindowsCreation) {
  teste::Instalacao inst;
  TServicoOrvWs servico(Opcoes());
  servico.PrepararRequestHandler();
  ASSERT_EQ(servico.DataModuleCreate(), "");
  const auto ini = inst.Raiz() / "orvws.ini";
  std::ofstream(ini) << "[Conf]\nProxiesConfiaveis=127.0.0.1,10.0.0.0/8\n";
  ViewGravada view;
  op::TFrmPrincipalCore core(servico.Pecas(ini.string()), view);
  EXPECT_FALSE(core.FormCreate());
  EXPECT_EQ(view.erros, (std::vector<std::string>{"Endereço de proxy confiável inválido: 10.0.0.0/8."}));
  EXPECT_FALSE(core.Ativo());
}

// Each service has its own registry, whose TOrvWs is bound to that service: one that has no
// data module yet refuses to make one, whatever another service in the process has.
TEST(TServicoOrvWs, EachServiceHasItsOwnRegistry) {
  TServicoOrvWs primeiro;
  TServicoOrvWs segundo;
  for (TServicoOrvWs* s : {&primeiro, &segundo}) {
    ASSERT_NE(s->Registry().FindByName("IWSDLPublish"), nullptr);
    const soap::InterfacePtr orv = s->Registry().FindByName("IOrvWs");
    ASSERT_NE(orv, nullptr);
    EXPECT_THROW(orv->MakeInstance(soap::CallContext{"10.0.0.1"}), std::runtime_error);
  }
  EXPECT_NE(&primeiro.Registry(), &segundo.Registry());
}

}  // namespace
}  // namespace orv::startup
