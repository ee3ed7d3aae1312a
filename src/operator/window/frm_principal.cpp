#include "operator/window/frm_principal.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QValidator>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include <deque>

#include "host/startup/limites.h"

namespace orv::window {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

class CaixaMensagemQt final : public ICaixaMensagem {
 public:
  void Erro(QWidget* parent, const QString& titulo, const QString& texto) override {
    QMessageBox::critical(parent, titulo, texto, QMessageBox::Ok);
  }
};

// Digits only; at most four typed characters. A longer text that came from the settings file
// may still be shortened.
class ValidadorPorta final : public QValidator {
 public:
  ValidadorPorta(QLineEdit* campo) : QValidator(campo), campo_(campo) {}
  State validate(QString& input, int&) const override {
    for (const QChar c : input)
      if (c < u'0' || c > u'9') return Invalid;
    if (input.size() > startup::kMaxDigitosPorta && input.size() >= campo_->text().size())
      return Invalid;
    return Acceptable;
  }

 private:
  QLineEdit* campo_;
};

// The columns of the log grid over cliLogs: "Data" exists but is hidden.
enum Coluna { kColLog, kColData, kColInicio, kColTermino, kColTempo, kNumColunas };

}  // namespace

ICaixaMensagem& CaixaMensagemReal() {
  static CaixaMensagemQt caixa;
  return caixa;
}

TLinkLabel::TLinkLabel(QWidget* parent) : QLabel(parent) {
  setStyleSheet("QLabel { color: blue; text-decoration: underline; }"
                "QLabel:disabled { color: gray; }");
  setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && isEnabled() && rect().contains(event->position().toPoint()))
    emit clicked();
  QLabel::mouseReleaseEvent(event);
}

QIcon IconeAplicacao() {
  QIcon icone;
  for (int lado : {16, 32, 64}) {
    QPixmap pixmap(lado, lado);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1f, 0x6f, 0xb2));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, lado, lado), lado / 6.0, lado / 6.0);
    p.setPen(Qt::white);
    QFont fonte = p.font();
    fonte.setBold(true);
    fonte.setPixelSize(lado * 5 / 8);
    p.setFont(fonte);
    p.drawText(QRect(0, 0, lado, lado), Qt::AlignCenter, "O");
    p.end();
    icone.addPixmap(pixmap);
  }
  return icone;
}

// Hands the log's news to the window's thread; called with the log's lock held, so it only
// posts (the signals are connected with queued connections).
class TFrmPrincipal::Observador final : public op::IActivityObserver {
 public:
  explicit Observador(TFrmPrincipal* janela) : janela_(janela) {}
  void RowAppended(std::size_t, const op::TLogRow& row) override { emit janela_->linhaRecebida(row); }
  void IndicatorsChanged(const op::TIndicadores& ind) override {
    emit janela_->indicadoresRecebidos(ind);
  }

 private:
  TFrmPrincipal* janela_;
};

class TFrmPrincipal::ModeloLog final : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(linhas_.size());
  }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : kNumColunas;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const op::TLogRow& r = linhas_[static_cast<std::size_t>(index.row())];
    switch (index.column()) {
      case kColLog: return Q(r.DES_LOG);
      case kColData: return Q(r.DTA_LOG);
      case kColInicio: return Q(r.DTA_INICIO);
      case kColTermino: return Q(r.DTA_TERMINO);
      case kColTempo: return Q(r.VAL_TMP_EXEC);
      default: return {};
    }
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    static const char* const kTitulos[kNumColunas] = {"Log", "Data", "Início", "Término",
                                                      "Tempo de execução"};
    return section >= 0 && section < kNumColunas ? QString::fromUtf8(kTitulos[section]) : QVariant();
  }
  void Adicionar(const op::TLogRow& row) {
    // As many rows as the log keeps: the oldest leave first.
    if (linhas_.size() >= op::kMaxLinhasLog) {
      beginRemoveRows({}, 0, 0);
      linhas_.pop_front();
      endRemoveRows();
    }
    const int n = static_cast<int>(linhas_.size());
    beginInsertRows({}, n, n);
    linhas_.push_back(row);
    endInsertRows();
  }

 private:
  std::deque<op::TLogRow> linhas_;
};

TFrmPrincipal::TFrmPrincipal(startup::PecasPrincipal pecas, Opcoes opcoes, QWidget* parent)
    : QMainWindow(parent), opcoes_(std::move(opcoes)), log_(pecas.log) {
  static const int registro = [] {
    qRegisterMetaType<orv::op::TLogRow>();
    qRegisterMetaType<orv::op::TIndicadores>();
    return 0;
  }();
  (void)registro;
  if (!opcoes_.caixa) opcoes_.caixa = &CaixaMensagemReal();
  if (!opcoes_.abrir_url)
    opcoes_.abrir_url = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };

  CriarControles();
  connect(this, &TFrmPrincipal::linhaRecebida, this, &TFrmPrincipal::AdicionarLinha,
          Qt::QueuedConnection);
  connect(this, &TFrmPrincipal::indicadoresRecebidos, this, &TFrmPrincipal::MostrarIndicadores,
          Qt::QueuedConnection);
  core_ = std::make_unique<startup::TFrmPrincipalCore>(std::move(pecas), *this);
  if (log_) {
    observador_ = std::make_unique<Observador>(this);
    log_->AddObserver(observador_.get());
  }
  CriarBandeja();
  core_->FormCreate();
  AtualizarEstado();
}

TFrmPrincipal::~TFrmPrincipal() {
  if (log_ && observador_) log_->RemoveObserver(observador_.get());
}

void TFrmPrincipal::CriarControles() {
  setWindowTitle(Q(std::string(startup::kTituloAplicacao)));
  setWindowIcon(IconeAplicacao());

  auto* central = new QWidget(this);
  auto* coluna = new QVBoxLayout(central);

  auto* grpParam = new QGroupBox(QString::fromUtf8("Parametrizações"), central);
  auto* gParam = new QGridLayout(grpParam);
  gParam->addWidget(new QLabel(QString::fromUtf8("Número da porta:"), grpParam), 0, 0);
  edtNumPorta_ = new QLineEdit(QString::number(startup::kPortaPadrao), grpParam);
  edtNumPorta_->setObjectName("edtNumPorta");
  edtNumPorta_->setValidator(new ValidadorPorta(edtNumPorta_));
  edtNumPorta_->setMaximumWidth(80);
  gParam->addWidget(edtNumPorta_, 0, 1);
  btnIniciar_ = new QPushButton("&Iniciar", grpParam);
  btnIniciar_->setObjectName("btnIniciar");
  btnParar_ = new QPushButton("&Parar", grpParam);
  btnParar_->setObjectName("btnParar");
  gParam->addWidget(btnIniciar_, 0, 2);   // the two buttons share one place
  gParam->addWidget(btnParar_, 0, 2);
  gParam->setColumnStretch(3, 1);
  ckbIniAut_ = new QCheckBox(QString::fromUtf8("Iniciar automaticamente ao abrir a aplicação?"),
                             grpParam);
  ckbIniAut_->setObjectName("ckbIniAut");
  gParam->addWidget(ckbIniAut_, 1, 0, 1, 4);
  coluna->addWidget(grpParam);

  auto* grpStatus = new QGroupBox("Status do Web Service", central);
  auto* gStatus = new QGridLayout(grpStatus);
  lblStatus_ = new QLabel("Pausado", grpStatus);
  lblStatus_->setObjectName("lblStatus");
  lblLink_ = new TLinkLabel(grpStatus);
  lblLink_->setObjectName("lblLink");
  auto* linhaStatus = new QHBoxLayout;
  linhaStatus->addWidget(lblStatus_);
  linhaStatus->addWidget(lblLink_);
  linhaStatus->addStretch(1);
  gStatus->addLayout(linhaStatus, 0, 0, 1, 2);
  auto valor = [grpStatus](const char* nome, const char* texto) {
    auto* l = new QLabel(QString::fromUtf8(texto), grpStatus);
    l->setObjectName(nome);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
  };
  lblNumRequisicoes_ = valor("lblNumRequisicoes", "0");
  lblTmpMedio_ = valor("lblTmpMedio", "0");
  lblUpload_ = valor("lblUpload", "0 B");
  gStatus->addWidget(new QLabel(QString::fromUtf8("Número de requisições:"), grpStatus), 1, 0);
  gStatus->addWidget(lblNumRequisicoes_, 1, 1);
  gStatus->addWidget(new QLabel(QString::fromUtf8("Média do tempo de execução:"), grpStatus), 2, 0);
  gStatus->addWidget(lblTmpMedio_, 2, 1);
  gStatus->addWidget(new QLabel(QString::fromUtf8("Envio:"), grpStatus), 3, 0);
  gStatus->addWidget(lblUpload_, 3, 1);
  gStatus->setColumnStretch(1, 1);
  coluna->addWidget(grpStatus);

  modelo_ = new ModeloLog(this);
  grade_ = new QTableView(central);
  grade_->setObjectName("grdLogs");
  grade_->setModel(modelo_);
  grade_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grade_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grade_->verticalHeader()->hide();
  grade_->verticalHeader()->setDefaultSectionSize(grade_->fontMetrics().height() + 4);
  grade_->setColumnHidden(kColData, true);
  // The marks take the width of a full "dd/mm/yyyy tt.zzz" text; the line takes the rest.
  const int margem = 4 * grade_->fontMetrics().averageCharWidth();
  const int largura_marca = grade_->fontMetrics().horizontalAdvance("00/00/0000 00:00:00.000") + margem;
  const int largura_tempo =
      grade_->fontMetrics().horizontalAdvance(QString::fromUtf8("Tempo de execução")) + margem;
  QHeaderView* cabecalho = grade_->horizontalHeader();
  cabecalho->setMinimumSectionSize(40);
  cabecalho->setSectionResizeMode(QHeaderView::Interactive);
  cabecalho->setSectionResizeMode(kColLog, QHeaderView::Stretch);
  cabecalho->resizeSection(kColInicio, largura_marca);
  cabecalho->resizeSection(kColTermino, largura_marca);
  cabecalho->resizeSection(kColTempo, largura_tempo);
  coluna->addWidget(grade_, 1);
  setCentralWidget(central);

  for (int i = 0; i < 3; ++i) {
    auto* painel = new QLabel(this);
    painel->setObjectName(QString("StatusBarPanel%1").arg(i));
    statusBar()->addWidget(painel, i == 2 ? 1 : 0);
    paineis_.push_back(painel);
  }
  resize(1000, 560);

  connect(btnIniciar_, &QPushButton::clicked, this, &TFrmPrincipal::ChangeStatusServer);
  connect(btnParar_, &QPushButton::clicked, this, &TFrmPrincipal::ChangeStatusServer);
  // Only the operator's own edits count as changes (loading the settings writes nothing).
  connect(edtNumPorta_, &QLineEdit::textEdited, this, [this] { core_->edtNumPortaChange(); });
  connect(ckbIniAut_, &QCheckBox::clicked, this, [this] { core_->ckbIniAutClick(); });
  connect(lblLink_, &TLinkLabel::clicked, this, &TFrmPrincipal::lblLinkClick);
}

void TFrmPrincipal::CriarBandeja() {
  // Without a notification area the window is only minimised (it could not be restored).
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  bandeja_ = new QSystemTrayIcon(IconeAplicacao(), this);
  connect(bandeja_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r != QSystemTrayIcon::DoubleClick) return;
    showNormal();
    raise();
    activateWindow();
  });
  bandeja_->show();
}

void TFrmPrincipal::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && bandeja_ && (windowState() & Qt::WindowMinimized))
    QTimer::singleShot(0, this, [this] { hide(); });
}

void TFrmPrincipal::Fechar() {
  if (fechado_) return;
  fechado_ = true;
  core_->FormClose();
  AtualizarEstado();
}

void TFrmPrincipal::closeEvent(QCloseEvent* event) {
  Fechar();
  event->accept();
}

void TFrmPrincipal::ChangeStatusServer() {
  AtualizarEstado();
  core_->ChangeStatusServerExecute();
  AtualizarEstado();
}

void TFrmPrincipal::AtualizarEstado() {
  const startup::EstadoControles e = core_->ChangeStatusServerUpdate();
  btnParar_->setVisible(e.btnParar_visible);
  btnParar_->setEnabled(e.btnParar_enabled);
  btnIniciar_->setVisible(e.btnIniciar_visible);
  btnIniciar_->setEnabled(e.btnIniciar_enabled);
  edtNumPorta_->setEnabled(e.edtNumPorta_enabled);
  lblLink_->setEnabled(e.lblLink_enabled);
  lblLink_->setText(Q(e.lblLink));
  lblStatus_->setText(Q(e.lblStatus));
}

void TFrmPrincipal::lblLinkClick() {
  if (!lblLink_->text().isEmpty()) opcoes_.abrir_url(lblLink_->text());
}

void TFrmPrincipal::AdicionarLinha(const op::TLogRow& row) {
  modelo_->Adicionar(row);
  grade_->scrollToBottom();
}

void TFrmPrincipal::MostrarIndicadores(const op::TIndicadores& ind) {
  lblNumRequisicoes_->setText(Q(ind.lblNumRequisicoes));
  lblTmpMedio_->setText(Q(ind.lblTmpMedio));
  lblUpload_->setText(Q(ind.lblUpload));
}

std::string TFrmPrincipal::PortText() const { return edtNumPorta_->text().toStdString(); }
void TFrmPrincipal::SetPortText(const std::string& text) { edtNumPorta_->setText(Q(text)); }
bool TFrmPrincipal::AutoStart() const { return ckbIniAut_->isChecked(); }
void TFrmPrincipal::SetAutoStart(bool checked) { ckbIniAut_->setChecked(checked); }

void TFrmPrincipal::SetPanel(int index, const std::string& text) {
  QLabel* painel = paineis_.at(static_cast<std::size_t>(index));
  painel->setText(Q(text));
  painel->setToolTip(Q(text));   // the whole text, when the bar is too narrow to show it
}

void TFrmPrincipal::MostrarErro(const std::string& text) {
  opcoes_.caixa->Erro(this, Q(std::string(startup::kTituloAplicacao)), Q(text));
}

void TFrmPrincipal::FocusPort() { edtNumPorta_->setFocus(); }

}  // namespace orv::window
