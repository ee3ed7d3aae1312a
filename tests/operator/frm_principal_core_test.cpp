// The window's share of start-up, server control and shutdown, driven through a recording view
// and a listener stand-in, with the settings file and the log in memory (the tests with the real
// listener and files live in tests/startup/servico_test.cpp).
#include "operator/frm_principal_core.h"

#include <gtest/gtest.h>

#include <set>

#include "operator/operator_limits.h"
#include "support/log_reader.h"
#include "util/datetime.h"
#include "util/faulty_env.h"
#include "util/mem_env.h"

namespace orv::op {
namespace {

class ServidorFalso : public IServidorHttp {
 public:
  explicit ServidorFalso(std::set<std::uint16_t>* ocupadas) : ocupadas_(ocupadas) {}
  bool Active() const override { return ativo_; }
  void Iniciar(std::uint16_t porta) override {
    if (ocupadas_->count(porta))
      throw std::runtime_error("Could not bind socket. Address and port are already in use.");
    ativo_ = true;
  }
  void Parar() override { ativo_ = false; }

 private:
  std::set<std::uint16_t>* ocupadas_;
  bool ativo_ = false;
};

class ViewGravada : public IPrincipalView {
 public:
  std::string PortText() const override { return porta; }
  void SetPortText(const std::string& t) override { porta = t; }
  bool AutoStart() const override { return auto_start; }
  void SetAutoStart(bool c) override { auto_start = c; }
  void SetPanel(int i, const std::string& t) override { paineis[static_cast<std::size_t>(i)] = t; }
  void MostrarErro(const std::string& t) override { erros.push_back(t); }
  void FocusPort() override { ++focos; }

  std::string porta = "8080";
  bool auto_start = false;
  std::array<std::string, 3> paineis;
  std::vector<std::string> erros;
  int focos = 0;
};

// The installation folder and the settings file beside the program.
const std::string kPastaSistema = "/orvalen";
const std::string kIni = "/opt/orvws/orvws.ini";

class FrmPrincipalCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mem.CreateFolders("/opt/orvws");
    Recriar();
  }

  void Recriar() {
    core.reset();
    log = std::make_unique<TActivityLog>(
        ActivityLogOptions{PastaLogsDe(kPastaSistema)}, env);
    PecasPrincipal p;
    p.criar_servidor = [this] { return std::make_unique<ServidorFalso>(&ocupadas); };
    p.esvaziar_sessoes = [this] { ++sessoes_esvaziadas; };
    p.ip_local = [this] {
      if (ip_falha) throw std::runtime_error("Host not found");
      return std::string("10.1.2.3");
    };
    p.tipo_banco = 0;
    p.local_gestao = "/dados/gestao.fdb";
    p.log = log.get();
    p.caminho_ini = kIni;
    p.env = &env;
    core = std::make_unique<TFrmPrincipalCore>(std::move(p), view);
  }

  bool IniExiste() const { return mem.FileBytes(kIni).has_value(); }
  void GravarIni(const std::string& s) { mem.PutFile(kIni, s); }

  std::vector<std::string> Linhas() const {
    std::vector<std::string> r;
    for (const TLogRow& row : log->Rows()) r.push_back(row.DES_LOG);
    return r;
  }
  // The texts of the log file's lines (after the marks).
  std::vector<std::string> LinhasDoArquivo() const {
    std::vector<std::string> r;
    for (const std::string& linha : testing::LogLines(mem.FileBytes(log->CaminhoArquivo()).value_or("")))
      r.push_back(testing::LogLineText(linha));
    return r;
  }

  util::MemEnv mem;   // the files, the folders and the clock
  util::FaultyEnv env{mem};
  std::set<std::uint16_t> ocupadas;
  int sessoes_esvaziadas = 0;
  bool ip_falha = false;
  ViewGravada view;
  std::unique_ptr<TActivityLog> log;
  std::unique_ptr<TFrmPrincipalCore> core;
};

const std::string kAberta = "Aplicação aberta, status do serviço: Parado";
const std::string kAbertaIniciando = "Aplicação aberta, status do serviço: Iniciando";
const std::string kInfo =
    "Informações:: IP: 10.1.2.3, GESTAO: /dados/gestao.fdb, Tipo: Firebird";
const std::string kIniciado = "Aplicação(10.1.2.3), Serviço iniciado na porta 8080";
const std::string kParado = "Aplicação(10.1.2.3), Serviço parado";

TEST_F(FrmPrincipalCoreTest, WithoutSettingsFileOpensStoppedOnPort8080AndLeavesNoFile) {
  ASSERT_TRUE(core->FormCreate());
  EXPECT_EQ(view.porta, "8080");
  EXPECT_FALSE(view.auto_start);
  EXPECT_FALSE(IniExiste());
  EXPECT_EQ(Linhas(), (std::vector<std::string>{kAberta, kInfo}));
  EXPECT_EQ(LinhasDoArquivo(), Linhas());
  EXPECT_EQ(view.paineis[0], "IP: 10.1.2.3");
  EXPECT_EQ(view.paineis[1], "GESTAO: /dados/gestao.fdb, Tipo: Firebird");
  EXPECT_EQ(view.paineis[2], "Pasta de LOGs: " + log->PastaLogs() + ", Últ. Gerado: " +
                                 log->ArquivoLog());
  EXPECT_TRUE(view.erros.empty());
  EXPECT_EQ(sessoes_esvaziadas, 0);
}

TEST_F(FrmPrincipalCoreTest, ControlStatesFollowTheListener) {
  ASSERT_TRUE(core->FormCreate());
  EstadoControles parado;
  EXPECT_EQ(core->ChangeStatusServerUpdate(), parado);

  core->ChangeStatusServerExecute();
  EstadoControles ativo;
  ativo.ativo = true;
  ativo.btnIniciar_visible = ativo.btnIniciar_enabled = false;
  ativo.btnParar_visible = ativo.btnParar_enabled = true;
  ativo.edtNumPorta_enabled = false;
  ativo.lblLink_enabled = true;
  ativo.lblLink = "http://10.1.2.3:8080";
  ativo.lblStatus = "Rodando em: ";
  EXPECT_EQ(core->ChangeStatusServerUpdate(), ativo);

  core->ChangeStatusServerExecute();
  EXPECT_EQ(core->ChangeStatusServerUpdate(), parado);
}

TEST_F(FrmPrincipalCoreTest, StartStopStartThenCloseWhileActive) {
  ASSERT_TRUE(core->FormCreate());
  core->ChangeStatusServerExecute();
  EXPECT_EQ(sessoes_esvaziadas, 1);
  core->ChangeStatusServerExecute();
  EXPECT_EQ(sessoes_esvaziadas, 2);
  core->ChangeStatusServerExecute();
  EXPECT_EQ(sessoes_esvaziadas, 3);
  core->FormClose();
  EXPECT_EQ(sessoes_esvaziadas, 4);
  EXPECT_FALSE(core->Ativo());
  const std::vector<std::string> esperadas = {
      kAberta, kInfo, kIniciado, kParado, kIniciado,
      "Aplicação encerrada, parando serviço",
      "Aplicação recebeu 0 requisição(ões) com tempo médio de execução de 0",
      kParado, "Aplicação encerrada"};
  EXPECT_EQ(Linhas(), esperadas);
  EXPECT_EQ(LinhasDoArquivo(), esperadas);
  EXPECT_TRUE(view.erros.empty());
}

TEST_F(FrmPrincipalCoreTest, CloseWhileStoppedWritesThreeLines) {
  ASSERT_TRUE(core->FormCreate());
  core->FormClose();
  EXPECT_EQ(Linhas(), (std::vector<std::string>{
                          kAberta, kInfo, "Aplicação encerrada, serviço parado",
                          "Aplicação recebeu 0 requisição(ões) com tempo médio de execução de 0",
                          "Aplicação encerrada"}));
  EXPECT_EQ(sessoes_esvaziadas, 0);
}

TEST_F(FrmPrincipalCoreTest, SummaryLineShowsTheIndicatorsAsLabelled) {
  ASSERT_TRUE(core->FormCreate());
  TOperationTiming t(*log);
  t.SetDtaInicio(log->Now() - 0.2 / 86400.0);
  t.SetDtaTermino();
  t.WriteLog("Coletor(1.2.3.4), operação", true);
  core->FormClose();
  const auto linhas = Linhas();
  ASSERT_GE(linhas.size(), 2u);
  EXPECT_EQ(linhas[linhas.size() - 2].rfind("Aplicação recebeu 1 requisição(ões) com tempo médio de "
                                            "execução de 00:00:00.2", 0),
            0u)
      << linhas[linhas.size() - 2];
}

TEST_F(FrmPrincipalCoreTest, AutoStartWithThePortInUseShowsTheMessageAndStaysStopped) {
  GravarIni("[Conf]\nNumPorta=8080\nIniAut=1\n");
  ocupadas.insert(8080);
  Recriar();
  EXPECT_TRUE(core->FormCreate());
  EXPECT_TRUE(view.auto_start);
  EXPECT_FALSE(core->Ativo());
  EXPECT_EQ(view.erros, (std::vector<std::string>{std::string(kMsgPortaNaoPermitida)}));
  EXPECT_EQ(view.focos, 1);
  EXPECT_EQ(Linhas(), (std::vector<std::string>{kAbertaIniciando, kInfo}));
  EXPECT_EQ(sessoes_esvaziadas, 1);
}

TEST_F(FrmPrincipalCoreTest, AutoStartOnAFreePortStartsDuringCreation) {
  GravarIni("[Conf]\nNumPorta=0x1F90\nIniAut=1\n");
  Recriar();
  EXPECT_TRUE(core->FormCreate());
  EXPECT_TRUE(core->Ativo());
  EXPECT_EQ(view.porta, "8080");
  EXPECT_EQ(Linhas(), (std::vector<std::string>{kAbertaIniciando, kInfo, kIniciado}));
}

TEST_F(FrmPrincipalCoreTest, PortsOutsideTheRangeAreRefused) {
  for (const char* porta : {"12000", "0", "-5"}) {
    GravarIni(std::string("[Conf]\nNumPorta=") + porta + "\n");
    Recriar();
    view.erros.clear();
    ASSERT_TRUE(core->FormCreate());
    EXPECT_EQ(view.porta, porta);
    const int antes = sessoes_esvaziadas;
    core->ChangeStatusServerExecute();
    EXPECT_EQ(sessoes_esvaziadas, antes + 1) << porta;   // sessions dropped all the same
    EXPECT_FALSE(core->Ativo()) << porta;
    EXPECT_EQ(view.erros, (std::vector<std::string>{std::string(kMsgPortaInvalida)})) << porta;
    EXPECT_EQ(Linhas().size(), 2u) << porta;
  }
}

TEST_F(FrmPrincipalCoreTest, EmptyPortFieldRaisesTheConversionErrorAndWritesNothing) {
  ASSERT_TRUE(core->FormCreate());
  view.porta = "";
  core->edtNumPortaChange();
  core->ChangeStatusServerExecute();
  const std::string esperado = "'''' is not a valid integer value.";
  EXPECT_EQ(view.erros, (std::vector<std::string>{esperado, esperado}));
  EXPECT_FALSE(IniExiste());
  EXPECT_FALSE(core->Ativo());
}

TEST_F(FrmPrincipalCoreTest, HandlersWriteTheSettingsFileAtOnce) {
  ASSERT_TRUE(core->FormCreate());
  view.porta = "9091";
  core->edtNumPortaChange();
  EXPECT_EQ(core->ArqIni()->ReadInteger("Conf", "NumPorta", 0), 9091);
  view.auto_start = true;
  core->ckbIniAutClick();
  EXPECT_TRUE(util::TArqIni(kIni, env).ReadBool("Conf", "IniAut", false));
  view.auto_start = false;
  core->ckbIniAutClick();
  EXPECT_FALSE(util::TArqIni(kIni, env).ReadBool("Conf", "IniAut", true));
  EXPECT_TRUE(view.erros.empty());
}

TEST_F(FrmPrincipalCoreTest, SettingsFileThatCannotBeWrittenShowsUnableToWrite) {
  mem.CreateFolders(kIni);   // a folder where the file should be
  ASSERT_TRUE(core->FormCreate());
  view.porta = "81";
  core->edtNumPortaChange();
  EXPECT_EQ(view.erros, (std::vector<std::string>{"Unable to write to " + kIni + "."}));
}

TEST_F(FrmPrincipalCoreTest, LogFolderFailureSkipsTheOpeningLinesAndAutoStart) {
  GravarIni("[Conf]\nIniAut=1\n");
  env.FailCreateFolders(std::make_error_code(std::errc::permission_denied));
  Recriar();
  EXPECT_FALSE(core->FormCreate());
  ASSERT_EQ(view.erros.size(), 1u);
  EXPECT_EQ(view.erros[0], "Erro de E/S ao criar a pasta de logs \"" + log->PastaLogs() +
                               "\": Permission denied.");
  EXPECT_TRUE(Linhas().empty());
  EXPECT_FALSE(core->Ativo());
  EXPECT_EQ(view.paineis[2], "");
  // The operator can still start it by hand.
  core->ChangeStatusServerExecute();
  EXPECT_TRUE(core->Ativo());
}

// Past midnight the log rolls over; panel 2 then names the new day's file, and the closing
// lines go to that file with the summary of the whole run.
TEST_F(FrmPrincipalCoreTest, RollOverRenamesPanel2AndTheSummaryCoversTheWholeRun) {
  mem.SetNow(util::EncodeDateTime({2026, 12, 9, 23, 59, 58, 0}));
  Recriar();
  ASSERT_TRUE(core->FormCreate());
  EXPECT_EQ(view.paineis[2], "Pasta de LOGs: " + log->PastaLogs() + ", Últ. Gerado: 2026-12-09.log");
  TOperationTiming t(*log);
  t.SetDtaInicio();
  t.WriteLog("Coletor(1.2.3.4), antes", true);
  mem.SetNow(util::EncodeDateTime({2026, 12, 10, 0, 0, 1, 0}));
  t.SetDtaInicio();
  t.WriteLog("Coletor(1.2.3.4), depois", true);
  core->ArquivoLogMudou();   // what the window does when the log tells it
  EXPECT_EQ(view.paineis[2], "Pasta de LOGs: " + log->PastaLogs() + ", Últ. Gerado: 2026-12-10.log");
  core->FormClose();
  EXPECT_EQ(LinhasDoArquivo(), (std::vector<std::string>{
                                   "Coletor(1.2.3.4), depois", "Aplicação encerrada, serviço parado",
                                   "Aplicação recebeu 2 requisição(ões) com tempo médio de execução de "
                                   "00:00:00.000",
                                   "Aplicação encerrada"}));
}

TEST_F(FrmPrincipalCoreTest, HostLookupFailureEndsTheCreationSteps) {
  ip_falha = true;
  Recriar();
  EXPECT_FALSE(core->FormCreate());
  EXPECT_EQ(view.erros, (std::vector<std::string>{"Host not found."}));
  EXPECT_EQ(mem.FileBytes(log->CaminhoArquivo()), std::nullopt);
  EXPECT_EQ(view.paineis[0], "");
}

TEST(TextoDeExcecao, FullStopRule) {
  struct Caso { const char* entrada; const char* saida; };
  const Caso casos[] = {{"abc", "abc."},   {"abc.", "abc."}, {"abc!", "abc!"}, {"a)", "a)"},
                        {"a/", "a/."},     {"a?", "a?."},    {"", ""},        {"não é", "não é."},
                        {"x 9", "x 9."},   {"x -", "x -"}};
  for (const Caso& c : casos) EXPECT_EQ(TextoDeExcecao(c.entrada), c.saida) << c.entrada;
}

TEST(NomeTipoBanco, Kinds) {
  EXPECT_EQ(NomeTipoBanco(0), "Firebird");
  EXPECT_EQ(NomeTipoBanco(1), "Interbase");
  EXPECT_EQ(NomeTipoBanco(2), "SQL Server");
  EXPECT_EQ(NomeTipoBanco(3), "Oracle");
  EXPECT_EQ(NomeTipoBanco(7), "Oracle");
}

}  // namespace
}  // namespace orv::op
