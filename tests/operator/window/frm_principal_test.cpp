// The operator window under the offscreen platform: its controls, their states, the error
// boxes (through the message-box seam), the log grid and indicators fed from other threads.
#include "operator/window/frm_principal.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTest>

#include <set>
#include <thread>

#include "util/datetime.h"
#include "util/mem_env.h"

namespace orv::window {
namespace {

class AmbienteQt : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char nome[] = "test_window";
    static char* argv[] = {nome, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override { delete app_; }

 private:
  QApplication* app_ = nullptr;
};
[[maybe_unused]] ::testing::Environment* const kAmbiente =
    ::testing::AddGlobalTestEnvironment(new AmbienteQt);

class CaixaGravada : public ICaixaMensagem {
 public:
  void Erro(QWidget*, const QString& titulo, const QString& texto) override {
    caixas.push_back({titulo.toStdString(), texto.toStdString()});
  }
  std::vector<std::pair<std::string, std::string>> caixas;
};

// The installation folder and the settings file beside the program, in memory.
const std::string kPastaSistema = "/orvalen";
const std::string kIni = "/opt/orvws/orvws.ini";

class ServidorFalso : public op::IServidorHttp {
 public:
  explicit ServidorFalso(std::set<std::uint16_t>* ocupadas) : ocupadas_(ocupadas) {}
  bool Active() const override { return ativo_; }
  void Iniciar(std::uint16_t porta) override {
    if (ocupadas_->count(porta)) throw std::runtime_error("in use");
    ativo_ = true;
  }
  void Parar() override { ativo_ = false; }

 private:
  std::set<std::uint16_t>* ocupadas_;
  bool ativo_ = false;
};

class FrmPrincipalTest : public ::testing::Test {
 protected:
  std::unique_ptr<TFrmPrincipal> Abrir() {
    mem.CreateFolders("/opt/orvws");
    op::ActivityLogOptions lo;
    lo.PastaLogs = op::PastaLogsDe(kPastaSistema);
    lo.contar_sessoes = [this] { return sessoes; };
    log = std::make_unique<op::TActivityLog>(std::move(lo), mem);
    op::PecasPrincipal p;
    p.criar_servidor = [this] { return std::make_unique<ServidorFalso>(&ocupadas); };
    p.esvaziar_sessoes = [this] { ++sessoes_esvaziadas; };
    p.ip_local = [] { return std::string("192.168.0.7"); };
    p.tipo_banco = 2;
    p.local_gestao = "GESTAO";
    p.log = log.get();
    p.caminho_ini = kIni;
    p.env = &mem;
    TFrmPrincipal::Opcoes o;
    o.caixa = &caixa;
    o.abrir_url = [this](const QString& u) {
      urls.push_back(u.toStdString());
      return abrir_ok;
    };
    o.max_linhas = max_linhas;
    auto janela = std::make_unique<TFrmPrincipal>(std::move(p), o);
    Mostrar(*janela);
    return janela;
  }
  // Lets the window take and show what the log handed it (it gathers news for a moment).
  static void Mostrar(TFrmPrincipal& w) {
    EXPECT_TRUE(QTest::qWaitFor([&w] { return !w.HaPendentes(); }, 10000));
    QCoreApplication::processEvents();
  }
  void Escrever(const std::string& linha, bool conta = false) {
    op::TOperationTiming marcas(*log);
    marcas.SetDtaInicio();
    marcas.WriteLog(linha, conta);
  }
  template <class T>
  static T* Filho(QWidget& w, const char* nome) {
    T* c = w.findChild<T*>(nome);
    EXPECT_NE(c, nullptr) << nome;
    return c;
  }
  static std::vector<std::string> ColunaLog(QWidget& w) {
    auto* grade = Filho<QTableView>(w, "grdLogs");
    std::vector<std::string> r;
    for (int i = 0; i < grade->model()->rowCount(); ++i)
      r.push_back(grade->model()->index(i, 0).data().toString().toStdString());
    return r;
  }
  static std::string Texto(QWidget& w, const char* nome) {
    return Filho<QLabel>(w, nome)->text().toStdString();
  }

  util::MemEnv mem;   // the settings file, the log and the clock
  std::set<std::uint16_t> ocupadas;
  int sessoes_esvaziadas = 0;
  CaixaGravada caixa;
  std::vector<std::string> urls;
  bool abrir_ok = true;
  std::size_t max_linhas = op::kMaxLinhasLog;
  std::size_t sessoes = 0;
  std::unique_ptr<op::TActivityLog> log;
};

TEST_F(FrmPrincipalTest, ControlsCarryTheirTextsAndInitialState) {
  auto w = Abrir();
  w->show();
  EXPECT_EQ(w->windowTitle().toStdString(), "Orv Web Service");
  EXPECT_EQ(Filho<QLineEdit>(*w, "edtNumPorta")->text().toStdString(), "8080");
  struct Botao { const char* nome; const char* texto; bool visivel; };
  for (const Botao& b : {Botao{"btnIniciar", "&Iniciar", true}, Botao{"btnParar", "&Parar", false}}) {
    auto* btn = Filho<QPushButton>(*w, b.nome);
    EXPECT_EQ(btn->text().toStdString(), b.texto);
    EXPECT_EQ(btn->isVisible(), b.visivel) << b.nome;
    EXPECT_EQ(btn->isEnabled(), b.visivel) << b.nome;
  }
  EXPECT_EQ(Filho<QCheckBox>(*w, "ckbIniAut")->text().toStdString(),
            "Iniciar automaticamente ao abrir a aplicação?");
  EXPECT_EQ(Texto(*w, "lblStatus"), "Pausado");
  EXPECT_EQ(Texto(*w, "lblLink"), "");
  EXPECT_EQ(Texto(*w, "lblNumRequisicoes"), "0");
  EXPECT_EQ(Texto(*w, "lblTmpMedio"), "0");
  EXPECT_EQ(Texto(*w, "lblUpload"), "0 B");
  EXPECT_TRUE(Filho<QLabel>(*w, "lblUpload")->font().bold());
  EXPECT_EQ(Texto(*w, "StatusBarPanel0"), "IP: 192.168.0.7");
  EXPECT_EQ(Texto(*w, "StatusBarPanel1"), "GESTAO: GESTAO, Tipo: SQL Server");
  EXPECT_EQ(Texto(*w, "StatusBarPanel2"),
            "Pasta de LOGs: " + log->PastaLogs() + ", Últ. Gerado: " + log->ArquivoLog());

  auto* grade = Filho<QTableView>(*w, "grdLogs");
  std::vector<std::string> titulos;
  for (int c = 0; c < grade->model()->columnCount(); ++c)
    if (!grade->isColumnHidden(c))
      titulos.push_back(grade->model()->headerData(c, Qt::Horizontal).toString().toStdString());
  EXPECT_EQ(titulos, (std::vector<std::string>{"Log", "Início", "Término", "Tempo de execução"}));
  EXPECT_TRUE(grade->isColumnHidden(1));
  EXPECT_EQ(grade->model()->headerData(1, Qt::Horizontal).toString().toStdString(), "Data");
  EXPECT_EQ(ColunaLog(*w), (std::vector<std::string>{
                               "Aplicação aberta, status do serviço: Parado",
                               "Informações:: IP: 192.168.0.7, GESTAO: GESTAO, Tipo: SQL Server"}));
  EXPECT_TRUE(caixa.caixas.empty());
}

TEST_F(FrmPrincipalTest, StartAndStopSwitchTheControls) {
  auto w = Abrir();
  w->show();
  auto* iniciar = Filho<QPushButton>(*w, "btnIniciar");
  auto* parar = Filho<QPushButton>(*w, "btnParar");
  auto* porta = Filho<QLineEdit>(*w, "edtNumPorta");
  QTest::mouseClick(iniciar, Qt::LeftButton);
  EXPECT_TRUE(parar->isVisible() && parar->isEnabled());
  EXPECT_FALSE(iniciar->isVisible() || iniciar->isEnabled());
  EXPECT_FALSE(porta->isEnabled());
  EXPECT_EQ(Texto(*w, "lblStatus"), "Rodando em: ");
  EXPECT_EQ(Texto(*w, "lblLink"), "http://192.168.0.7:8080");
  EXPECT_TRUE(Filho<QLabel>(*w, "lblLink")->isEnabled());

  QTest::mouseClick(Filho<QLabel>(*w, "lblLink"), Qt::LeftButton);
  EXPECT_EQ(urls, (std::vector<std::string>{"http://192.168.0.7:8080"}));

  QTest::mouseClick(parar, Qt::LeftButton);
  EXPECT_TRUE(iniciar->isVisible() && iniciar->isEnabled());
  EXPECT_FALSE(parar->isVisible() || parar->isEnabled());
  EXPECT_TRUE(porta->isEnabled());
  EXPECT_EQ(Texto(*w, "lblStatus"), "Pausado");
  EXPECT_EQ(Texto(*w, "lblLink"), "");
  EXPECT_EQ(sessoes_esvaziadas, 2);
  Mostrar(*w);
  const auto linhas = ColunaLog(*w);
  ASSERT_EQ(linhas.size(), 4u);
  EXPECT_EQ(linhas[2], "Aplicação(192.168.0.7), Serviço iniciado na porta 8080");
  EXPECT_EQ(linhas[3], "Aplicação(192.168.0.7), Serviço parado");

  w->close();
  Mostrar(*w);
  EXPECT_EQ(ColunaLog(*w).back(), "Aplicação encerrada");
}

TEST_F(FrmPrincipalTest, PortFieldTakesAtMostFourTypedDigits) {
  auto w = Abrir();
  auto* porta = Filho<QLineEdit>(*w, "edtNumPorta");
  porta->clear();
  QTest::keyClicks(porta, "12a3456");
  EXPECT_EQ(porta->text().toStdString(), "1234");
  // Every typed change is written to the settings file at once.
  util::TArqIni ini(kIni, mem);
  EXPECT_EQ(ini.ReadInteger("Conf", "NumPorta", 0), 1234);
  QTest::mouseClick(Filho<QCheckBox>(*w, "ckbIniAut"), Qt::LeftButton);
  EXPECT_TRUE(ini.ReadBool("Conf", "IniAut", false));
}

TEST_F(FrmPrincipalTest, ErrorBoxesCarryTheExactTexts) {
  struct Caso { const char* ini; const char* digitar; std::uint16_t ocupada; const char* texto; };
  const Caso casos[] = {
      {"[Conf]\nNumPorta=12000\n", nullptr, 0, "Número de porta inválido!"},
      {"", nullptr, 8080,
       "Número de porta não permitido, provavelmente outro serviço está utilizando esta porta!"},
      {"", "", 0, "'''' is not a valid integer value."},
  };
  for (const Caso& c : casos) {
    mem.PutFile(kIni, c.ini);
    ocupadas = {c.ocupada};
    caixa.caixas.clear();
    auto w = Abrir();
    w->show();
    auto* porta = Filho<QLineEdit>(*w, "edtNumPorta");
    if (c.digitar) {
      porta->selectAll();
      QTest::keyClick(porta, Qt::Key_Backspace);   // the operator empties the field
      ASSERT_EQ(caixa.caixas.size(), 1u);
      EXPECT_EQ(caixa.caixas[0].second, c.texto);
      caixa.caixas.clear();
    }
    QTest::mouseClick(Filho<QPushButton>(*w, "btnIniciar"), Qt::LeftButton);
    ASSERT_EQ(caixa.caixas.size(), 1u) << c.texto;
    EXPECT_EQ(caixa.caixas[0].first, "Orv Web Service");
    EXPECT_EQ(caixa.caixas[0].second, c.texto);
    EXPECT_FALSE(w->Core().Ativo());
    EXPECT_TRUE(Filho<QPushButton>(*w, "btnIniciar")->isVisible());
  }
}

TEST_F(FrmPrincipalTest, SettingsFileThatCannotBeWrittenShowsUnableToWrite) {
  mem.CreateFolders(kIni);   // a folder where the file should be
  auto w = Abrir();
  QTest::mouseClick(Filho<QCheckBox>(*w, "ckbIniAut"), Qt::LeftButton);
  ASSERT_EQ(caixa.caixas.size(), 1u);
  EXPECT_EQ(caixa.caixas[0].second, "Unable to write to " + kIni + ".");
}

TEST_F(FrmPrincipalTest, RowsAndIndicatorsFromConnectionThreadsArriveInOrder) {
  auto w = Abrir();
  constexpr int kThreads = 4, kPorThread = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([this, t] {
      for (int i = 0; i < kPorThread; ++i) {
        op::TOperationTiming marcas(*log);
        marcas.SetDtaInicio();
        marcas.SetDtaTermino();
        marcas.WriteLog("Coletor(10.0.0." + std::to_string(t) + "), " + std::to_string(i), true);
        log->AddUpload(512);
      }
    });
  for (auto& t : threads) t.join();
  Mostrar(*w);
  std::vector<std::string> esperadas;
  for (const op::TLogRow& r : log->Rows()) esperadas.push_back(r.DES_LOG);
  EXPECT_EQ(ColunaLog(*w), esperadas);
  EXPECT_EQ(esperadas.size(), 2u + kThreads * kPorThread);
  EXPECT_EQ(Texto(*w, "lblNumRequisicoes"), "100");
  EXPECT_EQ(Texto(*w, "lblUpload"), log->Indicadores().lblUpload);
  EXPECT_EQ(Texto(*w, "lblTmpMedio"), log->Indicadores().lblTmpMedio);
}

// The failed operations and the open sessions beside the three indicators, as the log counts
// them.
TEST_F(FrmPrincipalTest, FailuresAndOpenSessionsAreShown) {
  auto w = Abrir();
  const char* const nomes[] = {"lblSessoesAbertas", "lblFalhasSoap", "lblResultadosFalse", "lblRecusas"};
  for (const char* nome : nomes) {
    EXPECT_EQ(Texto(*w, nome), "0") << nome;
    EXPECT_TRUE(Filho<QLabel>(*w, nome)->font().bold()) << nome;
  }
  using op::TFalha;
  for (TFalha f : {TFalha::Soap, TFalha::ResultadoFalse, TFalha::ResultadoFalse, TFalha::Recusa,
                   TFalha::Recusa, TFalha::Recusa})
    log->ContarFalha(f);
  sessoes = 4;
  log->SessoesMudaram();
  Mostrar(*w);
  EXPECT_EQ(Texto(*w, "lblFalhasSoap"), "1");
  EXPECT_EQ(Texto(*w, "lblResultadosFalse"), "2");
  EXPECT_EQ(Texto(*w, "lblRecusas"), "3");
  EXPECT_EQ(Texto(*w, "lblSessoesAbertas"), "4");
  EXPECT_EQ(Texto(*w, "lblNumRequisicoes"), "0");
}

// At the bottom the grid follows new rows; scrolled up it stays on the rows being read, also
// while the oldest rows leave above them; a line then says how many left (the file has them).
TEST_F(FrmPrincipalTest, GridFollowsAtTheBottomHoldsWhenScrolledUpAndSaysWhatLeft) {
  max_linhas = 40;
  auto w = Abrir();
  w->resize(700, 420);
  w->show();
  auto* grade = Filho<QTableView>(*w, "grdLogs");
  QScrollBar* barra = grade->verticalScrollBar();
  for (int i = 0; i < 36; ++i) Escrever("linha " + std::to_string(i));
  Mostrar(*w);
  ASSERT_EQ(grade->model()->rowCount(), 38);
  ASSERT_GT(barra->maximum(), 20) << "the grid shows too many rows for this test";
  EXPECT_EQ(barra->value(), barra->maximum());
  EXPECT_FALSE(Filho<QLabel>(*w, "lblLinhasDescartadas")->isVisible());

  const int lida = barra->maximum() - 2;
  barra->setValue(lida);
  const QString topo = grade->model()->index(lida, 0).data().toString();
  for (int i = 36; i < 56; ++i) Escrever("linha " + std::to_string(i));   // 18 rows leave
  Mostrar(*w);
  EXPECT_EQ(grade->model()->rowCount(), 40);
  EXPECT_EQ(barra->value(), lida - 18);
  EXPECT_EQ(grade->model()->index(barra->value(), 0).data().toString(), topo);
  auto* descartadas = Filho<QLabel>(*w, "lblLinhasDescartadas");
  EXPECT_TRUE(descartadas->isVisible());
  EXPECT_EQ(descartadas->text().toStdString(),
            "Linhas mais antigas retiradas desta tabela: 18 (o arquivo de log guarda todas)");

  barra->setValue(barra->maximum());
  Escrever("a mais nova");
  Mostrar(*w);
  EXPECT_EQ(barra->value(), barra->maximum());
  EXPECT_EQ(ColunaLog(*w).back(), "a mais nova");
}

// The filter shows the rows holding its text (ASCII letters in any case), also of the rows
// that come later, and every row kept when emptied.
TEST_F(FrmPrincipalTest, FilterShowsTheRowsHoldingItsText) {
  max_linhas = 12;
  auto w = Abrir();
  auto coletor = [](int i) {
    return "Coletor(10.0.0." + std::to_string(i % 3) + " como " + (i % 3 == 1 ? "BIA" : "ANA") +
           ") operação " + std::to_string(i);
  };
  for (int i = 0; i < 9; ++i) Escrever(coletor(i));
  Mostrar(*w);
  QTest::keyClicks(Filho<QLineEdit>(*w, "edtFiltro"), "como bia");
  auto filtradas = [&] {
    std::vector<std::string> r;
    const auto todas = log->Rows();
    for (std::size_t i = todas.size() > max_linhas ? todas.size() - max_linhas : 0; i < todas.size(); ++i)
      if (todas[i].DES_LOG.find("como BIA") != std::string::npos) r.push_back(todas[i].DES_LOG);
    return r;
  };
  EXPECT_EQ(ColunaLog(*w), filtradas());
  EXPECT_EQ(ColunaLog(*w).size(), 3u);
  for (int i = 9; i < 20; ++i) Escrever(coletor(i));   // rows leave while filtering
  Mostrar(*w);
  EXPECT_EQ(ColunaLog(*w), filtradas());
  Filho<QLineEdit>(*w, "edtFiltro")->clear();
  const auto todas = log->Rows();
  EXPECT_EQ(ColunaLog(*w), std::vector<std::string>(
                               [&] {
                                 std::vector<std::string> r;
                                 for (std::size_t i = todas.size() - max_linhas; i < todas.size(); ++i)
                                   r.push_back(todas[i].DES_LOG);
                                 return r;
                               }()));
}

TEST_F(FrmPrincipalTest, OpenFolderButtonOpensTheLogFolderOrSaysWhyNot) {
  auto w = Abrir();
  QTest::mouseClick(Filho<QPushButton>(*w, "btnAbrirPasta"), Qt::LeftButton);
  ASSERT_EQ(urls.size(), 1u);
  EXPECT_EQ(QUrl(QString::fromStdString(urls[0])).toLocalFile().toStdString(), log->PastaLogs());
  EXPECT_TRUE(caixa.caixas.empty());
  abrir_ok = false;
  QTest::mouseClick(Filho<QPushButton>(*w, "btnAbrirPasta"), Qt::LeftButton);
  ASSERT_EQ(caixa.caixas.size(), 1u);
  EXPECT_EQ(caixa.caixas[0].second, "Não foi possível abrir a pasta de LOGs \"" + log->PastaLogs() + "\"");
}

// Past midnight the status bar names the new day's file; the grid and the indicators go on.
TEST_F(FrmPrincipalTest, RollOverRenamesTheStatusBarsLogFile) {
  mem.SetNow(util::EncodeDateTime({2026, 12, 9, 23, 59, 0, 0}));
  auto w = Abrir();
  EXPECT_EQ(Texto(*w, "StatusBarPanel2"), "Pasta de LOGs: " + log->PastaLogs() + ", Últ. Gerado: 2026-12-09.log");
  Escrever("Coletor(10.0.0.1) antes", true);
  mem.AdvanceMs(120000);
  Escrever("Coletor(10.0.0.1) depois", true);
  Mostrar(*w);
  EXPECT_EQ(Texto(*w, "StatusBarPanel2"), "Pasta de LOGs: " + log->PastaLogs() + ", Últ. Gerado: 2026-12-10.log");
  EXPECT_EQ(ColunaLog(*w).size(), 4u);
  EXPECT_EQ(Texto(*w, "lblNumRequisicoes"), "2");
}

}  // namespace
}  // namespace orv::window
