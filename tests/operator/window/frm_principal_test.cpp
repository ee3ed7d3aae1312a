// The operator window under the offscreen platform: its controls, their states, the error
// boxes (through the message-box seam), the log grid and indicators fed from other threads.
#include "operator/window/frm_principal.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "operator/temp_dir.h"

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

class ServidorFalso : public startup::IServidorHttp {
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
    log = std::make_unique<op::TActivityLog>(op::ActivityLogOptions{op::PastaLogsDe(dir.str())});
    startup::PecasPrincipal p;
    p.criar_servidor = [this] { return std::make_unique<ServidorFalso>(&ocupadas); };
    p.esvaziar_sessoes = [this] { ++sessoes_esvaziadas; };
    p.ip_local = [] { return std::string("192.168.0.7"); };
    p.tipo_banco = 2;
    p.local_gestao = "GESTAO";
    p.log = log.get();
    p.caminho_ini = (dir.path() / "orvws.ini").string();
    TFrmPrincipal::Opcoes o;
    o.caixa = &caixa;
    o.abrir_url = [this](const QString& u) { urls.push_back(u.toStdString()); };
    auto janela = std::make_unique<TFrmPrincipal>(std::move(p), o);
    QCoreApplication::processEvents();
    return janela;
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

  testing::TempDir dir;
  std::set<std::uint16_t> ocupadas;
  int sessoes_esvaziadas = 0;
  CaixaGravada caixa;
  std::vector<std::string> urls;
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
  QCoreApplication::processEvents();
  const auto linhas = ColunaLog(*w);
  ASSERT_EQ(linhas.size(), 4u);
  EXPECT_EQ(linhas[2], "Aplicação(192.168.0.7), Serviço iniciado na porta 8080");
  EXPECT_EQ(linhas[3], "Aplicação(192.168.0.7), Serviço parado");

  w->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(ColunaLog(*w).back(), "Aplicação encerrada");
}

TEST_F(FrmPrincipalTest, PortFieldTakesAtMostFourTypedDigits) {
  auto w = Abrir();
  auto* porta = Filho<QLineEdit>(*w, "edtNumPorta");
  porta->clear();
  QTest::keyClicks(porta, "12a3456");
  EXPECT_EQ(porta->text().toStdString(), "1234");
  // Every typed change is written to the settings file at once.
  startup::TArqIni ini((dir.path() / "orvws.ini").string());
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
    std::ofstream(dir.path() / "orvws.ini", std::ios::binary) << c.ini;
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
  std::filesystem::create_directory(dir.path() / "orvws.ini");
  auto w = Abrir();
  QTest::mouseClick(Filho<QCheckBox>(*w, "ckbIniAut"), Qt::LeftButton);
  ASSERT_EQ(caixa.caixas.size(), 1u);
  EXPECT_EQ(caixa.caixas[0].second, "Unable to write to " + (dir.path() / "orvws.ini").string() + ".");
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
  QCoreApplication::processEvents();
  std::vector<std::string> esperadas;
  for (const op::TLogRow& r : log->Rows()) esperadas.push_back(r.DES_LOG);
  EXPECT_EQ(ColunaLog(*w), esperadas);
  EXPECT_EQ(esperadas.size(), 2u + kThreads * kPorThread);
  EXPECT_EQ(Texto(*w, "lblNumRequisicoes"), "100");
  EXPECT_EQ(Texto(*w, "lblUpload"), log->Indicadores().lblUpload);
  EXPECT_EQ(Texto(*w, "lblTmpMedio"), log->Indicadores().lblTmpMedio);
}

}  // namespace
}  // namespace orv::window
