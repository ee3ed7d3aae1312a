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
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QValidator>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <deque>
#include <mutex>
#include <optional>

#include "operator/operator_limits.h"
#include "util/text.h"

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
    if (input.size() > op::kMaxDigitosPorta && input.size() >= campo_->text().size())
      return Invalid;
    return Acceptable;
  }

 private:
  QLineEdit* campo_;
};

// The columns of the log grid over cliLogs: "Data" exists but is hidden.
enum Coluna { kColLog, kColData, kColInicio, kColTermino, kColTempo, kNumColunas };

char MaiusculaAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether `texto` holds `procurado` (already in ASCII capitals), folding only ASCII letters.
bool ContemSemCaixa(std::string_view texto, std::string_view procurado) {
  return std::search(texto.begin(), texto.end(), procurado.begin(), procurado.end(),
                     [](char a, char b) { return MaiusculaAscii(a) == b; }) != texto.end();
}

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

// Gathers the log's news for the window's thread. Called with the log's lock held, so it only
// queues and, for the first news since the window last took them, posts one wake-up.
class TFrmPrincipal::Observador final : public op::IActivityObserver {
 public:
  struct Lote {
    std::deque<op::TLogRow> linhas;
    std::optional<op::TIndicadores> indicadores;   // the latest
    bool arquivo_mudou = false;
    std::size_t descartadas = 0;                    // rows that left the queue unshown
  };

  Observador(TFrmPrincipal* janela, std::size_t max_linhas)
      : janela_(janela), max_linhas_(max_linhas) {}
  void RowAppended(std::size_t, const op::TLogRow& row) override {
    std::lock_guard lock(mutex_);
    if (lote_.linhas.size() >= max_linhas_) {   // the grid would drop them at once anyway
      lote_.linhas.pop_front();
      ++lote_.descartadas;
    }
    lote_.linhas.push_back(row);
    AvisarLocked();
  }
  void IndicatorsChanged(const op::TIndicadores& ind) override {
    std::lock_guard lock(mutex_);
    lote_.indicadores = ind;
    AvisarLocked();
  }
  void LogFileChanged(const std::string&) override {
    std::lock_guard lock(mutex_);
    lote_.arquivo_mudou = true;
    AvisarLocked();
  }
  Lote Tomar() {
    std::lock_guard lock(mutex_);
    avisado_ = false;
    return std::exchange(lote_, Lote{});
  }
  bool Avisado() const {
    std::lock_guard lock(mutex_);
    return avisado_;
  }

 private:
  void AvisarLocked() {
    if (avisado_) return;
    avisado_ = true;
    TFrmPrincipal* janela = janela_;
    QMetaObject::invokeMethod(janela, [janela] { janela->AgendarDescarga(); }, Qt::QueuedConnection);
  }

  TFrmPrincipal* janela_;
  const std::size_t max_linhas_;
  mutable std::mutex mutex_;
  Lote lote_;
  bool avisado_ = false;
};

// The grid's rows: the newest max_linhas rows of the log, and of them the ones that hold the
// filter's text. Rows are known by their number in writing order, so the filtered list stays
// valid while the oldest rows leave.
class TFrmPrincipal::ModeloLog final : public QAbstractTableModel {
 public:
  ModeloLog(std::size_t max_linhas, QObject* parent)
      : QAbstractTableModel(parent), max_linhas_(std::max<std::size_t>(1, max_linhas)) {}

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(Filtrando() ? visiveis_.size() : linhas_.size());
  }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : kNumColunas;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const op::TLogRow& r = Linha(static_cast<std::size_t>(index.row()));
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

  // Appends rows, the oldest leaving first past max_linhas (also rows of this batch that would
  // not fit). Returns how many of the rows shown left.
  int Adicionar(std::deque<op::TLogRow> novas, std::size_t ja_descartadas) {
    descartadas_ += ja_descartadas;
    if (novas.size() > max_linhas_) {
      const std::size_t sobra = novas.size() - max_linhas_;
      novas.erase(novas.begin(), novas.begin() + static_cast<std::ptrdiff_t>(sobra));
      proxima_ += sobra;   // numbered as if they had come and gone
      descartadas_ += sobra;
    }
    const std::size_t total = linhas_.size() + novas.size();
    const std::size_t saem = total > max_linhas_ ? total - max_linhas_ : 0;
    int removidas = 0;
    if (saem > 0) {
      const std::uint64_t limite = primeira_ + saem;   // rows numbered below this leave
      if (Filtrando()) {
        while (static_cast<std::size_t>(removidas) < visiveis_.size() &&
               visiveis_[static_cast<std::size_t>(removidas)] < limite)
          ++removidas;
      } else {
        removidas = static_cast<int>(saem);
      }
      if (removidas > 0) beginRemoveRows({}, 0, removidas - 1);
      linhas_.erase(linhas_.begin(), linhas_.begin() + static_cast<std::ptrdiff_t>(saem));
      if (Filtrando()) visiveis_.erase(visiveis_.begin(), visiveis_.begin() + removidas);
      primeira_ = limite;
      descartadas_ += saem;
      if (removidas > 0) endRemoveRows();
    }
    std::vector<std::uint64_t> novas_visiveis;
    for (std::size_t i = 0; i < novas.size(); ++i)
      if (Filtrando() && Passa(novas[i])) novas_visiveis.push_back(proxima_ + i);
    if (linhas_.empty()) primeira_ = proxima_;
    const std::size_t antes = Filtrando() ? visiveis_.size() : linhas_.size();
    const std::size_t chegam = Filtrando() ? novas_visiveis.size() : novas.size();
    if (chegam > 0)
      beginInsertRows({}, static_cast<int>(antes), static_cast<int>(antes + chegam - 1));
    for (op::TLogRow& r : novas) linhas_.push_back(std::move(r));
    proxima_ += novas.size();
    visiveis_.insert(visiveis_.end(), novas_visiveis.begin(), novas_visiveis.end());
    if (chegam > 0) endInsertRows();
    return removidas;
  }

  // Shows only the rows holding `texto` (every row when empty).
  void Filtrar(const std::string& texto) {
    beginResetModel();
    filtro_ = util::AsciiUpper(texto);
    visiveis_.clear();
    if (Filtrando())
      for (std::size_t i = 0; i < linhas_.size(); ++i)
        if (Passa(linhas_[i])) visiveis_.push_back(primeira_ + i);
    endResetModel();
  }

  // Rows that left the grid since the window opened.
  std::uint64_t Descartadas() const { return descartadas_; }

 private:
  bool Filtrando() const { return !filtro_.empty(); }
  const op::TLogRow& Linha(std::size_t indice) const {
    return Filtrando() ? linhas_[static_cast<std::size_t>(visiveis_[indice] - primeira_)]
                       : linhas_[indice];
  }
  bool Passa(const op::TLogRow& r) const {
    for (const std::string* campo : {&r.DES_LOG, &r.DTA_INICIO, &r.DTA_TERMINO, &r.VAL_TMP_EXEC})
      if (ContemSemCaixa(*campo, filtro_)) return true;
    return false;
  }

  const std::size_t max_linhas_;
  std::deque<op::TLogRow> linhas_;
  std::uint64_t primeira_ = 0;    // number of linhas_.front()
  std::uint64_t proxima_ = 0;     // number of the next row to come
  std::string filtro_;            // in ASCII capitals
  std::deque<std::uint64_t> visiveis_;   // numbers of the rows that pass, while filtering
  std::uint64_t descartadas_ = 0;
};

TFrmPrincipal::TFrmPrincipal(op::PecasPrincipal pecas, Opcoes opcoes, QWidget* parent)
    : QMainWindow(parent), opcoes_(std::move(opcoes)), log_(pecas.log) {
  if (!opcoes_.caixa) opcoes_.caixa = &CaixaMensagemReal();
  if (!opcoes_.abrir_url)
    opcoes_.abrir_url = [](const QString& url) { return QDesktopServices::openUrl(QUrl(url)); };

  CriarControles();
  descarga_ = new QTimer(this);
  descarga_->setSingleShot(true);
  connect(descarga_, &QTimer::timeout, this, &TFrmPrincipal::Descarregar);
  core_ = std::make_unique<op::TFrmPrincipalCore>(std::move(pecas), *this);
  if (log_) {
    observador_ = std::make_unique<Observador>(this, opcoes_.max_linhas);
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
  setWindowTitle(Q(std::string(op::kTituloAplicacao)));
  setWindowIcon(IconeAplicacao());

  auto* central = new QWidget(this);
  auto* coluna = new QVBoxLayout(central);

  auto* grpParam = new QGroupBox(QString::fromUtf8("Parametrizações"), central);
  auto* gParam = new QGridLayout(grpParam);
  gParam->addWidget(new QLabel(QString::fromUtf8("Número da porta:"), grpParam), 0, 0);
  edtNumPorta_ = new QLineEdit(QString::number(op::kPortaPadrao), grpParam);
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
  lblSessoesAbertas_ = valor("lblSessoesAbertas", "0");
  lblFalhasSoap_ = valor("lblFalhasSoap", "0");
  lblResultadosFalse_ = valor("lblResultadosFalse", "0");
  lblRecusas_ = valor("lblRecusas", "0");
  // The three of the request count on the left; failures and sessions on the right.
  const struct {
    const char* titulo;
    QLabel* valor;
    int linha, coluna;
  } indicadores[] = {
      {"Número de requisições:", lblNumRequisicoes_, 1, 0},
      {"Média do tempo de execução:", lblTmpMedio_, 2, 0},
      {"Envio:", lblUpload_, 3, 0},
      {"Sessões abertas:", lblSessoesAbertas_, 0, 3},
      {"Falhas SOAP:", lblFalhasSoap_, 1, 3},
      {"Respostas \"false\":", lblResultadosFalse_, 2, 3},
      {"Recusas (HTTP 500):", lblRecusas_, 3, 3},
  };
  for (const auto& i : indicadores) {
    gStatus->addWidget(new QLabel(QString::fromUtf8(i.titulo), grpStatus), i.linha, i.coluna);
    gStatus->addWidget(i.valor, i.linha, i.coluna + 1);
  }
  gStatus->setColumnStretch(1, 1);
  gStatus->setColumnMinimumWidth(2, 24);
  gStatus->setColumnStretch(4, 1);
  coluna->addWidget(grpStatus);

  // Above the grid: the filter, the log folder, and the line about rows that left the grid.
  auto* linhaFiltro = new QHBoxLayout;
  linhaFiltro->addWidget(new QLabel("Filtrar:", central));
  edtFiltro_ = new QLineEdit(central);
  edtFiltro_->setObjectName("edtFiltro");
  edtFiltro_->setPlaceholderText(
      QString::fromUtf8("texto das linhas, por exemplo o endereço ou o usuário de um coletor"));
  edtFiltro_->setClearButtonEnabled(true);
  linhaFiltro->addWidget(edtFiltro_, 1);
  btnAbrirPasta_ = new QPushButton("Abrir pasta de LOGs", central);
  btnAbrirPasta_->setObjectName("btnAbrirPasta");
  linhaFiltro->addWidget(btnAbrirPasta_);
  coluna->addLayout(linhaFiltro);
  lblLinhasDescartadas_ = new QLabel(central);
  lblLinhasDescartadas_->setObjectName("lblLinhasDescartadas");
  lblLinhasDescartadas_->hide();
  coluna->addWidget(lblLinhasDescartadas_);

  modelo_ = new ModeloLog(opcoes_.max_linhas, this);
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
  resize(1100, 580);

  connect(btnIniciar_, &QPushButton::clicked, this, &TFrmPrincipal::ChangeStatusServer);
  connect(btnParar_, &QPushButton::clicked, this, &TFrmPrincipal::ChangeStatusServer);
  // Only the operator's own edits count as changes (loading the settings writes nothing).
  connect(edtNumPorta_, &QLineEdit::textEdited, this, [this] { core_->edtNumPortaChange(); });
  connect(ckbIniAut_, &QCheckBox::clicked, this, [this] { core_->ckbIniAutClick(); });
  connect(lblLink_, &TLinkLabel::clicked, this, &TFrmPrincipal::lblLinkClick);
  connect(btnAbrirPasta_, &QPushButton::clicked, this, &TFrmPrincipal::btnAbrirPastaClick);
  connect(edtFiltro_, &QLineEdit::textChanged, this, &TFrmPrincipal::edtFiltroChange);
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
  const op::EstadoControles e = core_->ChangeStatusServerUpdate();
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

void TFrmPrincipal::btnAbrirPastaClick() {
  const QString pasta = Q(log_ ? log_->PastaLogs() : std::string());
  if (pasta.isEmpty() || !opcoes_.abrir_url(QUrl::fromLocalFile(pasta).toString(QUrl::FullyEncoded)))
    MostrarErro(QString::fromUtf8("Não foi possível abrir a pasta de LOGs \"%1\"")
                    .arg(pasta)
                    .toStdString());
}

void TFrmPrincipal::edtFiltroChange(const QString& texto) {
  modelo_->Filtrar(texto.toStdString());
  grade_->scrollToBottom();
}

bool TFrmPrincipal::HaPendentes() const { return observador_ && observador_->Avisado(); }

void TFrmPrincipal::AgendarDescarga() {
  if (descarga_->isActive()) return;
  const qint64 passou = desde_descarga_.isValid() ? desde_descarga_.elapsed() : op::kPausaJanelaMs;
  descarga_->start(static_cast<int>(std::max<qint64>(0, op::kPausaJanelaMs - passou)));
}

void TFrmPrincipal::Descarregar() {
  if (!observador_) return;
  desde_descarga_.start();
  Observador::Lote lote = observador_->Tomar();
  if (!lote.linhas.empty() || lote.descartadas > 0) {
    // Scrolled to the bottom it follows; scrolled up it stays on the same rows, also when the
    // oldest rows leave above them.
    QScrollBar* barra = grade_->verticalScrollBar();
    const int valor = barra->value();
    const bool no_fim = valor >= barra->maximum();
    const int removidas = modelo_->Adicionar(std::move(lote.linhas), lote.descartadas);
    if (no_fim)
      grade_->scrollToBottom();
    else if (removidas > 0)
      barra->setValue(std::max(0, valor - removidas));
    MostrarDescartadas();
  }
  if (lote.indicadores) MostrarIndicadores(*lote.indicadores);
  if (lote.arquivo_mudou) core_->ArquivoLogMudou();
}

void TFrmPrincipal::MostrarDescartadas() {
  const std::uint64_t n = modelo_->Descartadas();
  if (n == 0) return;
  lblLinhasDescartadas_->setText(
      QString::fromUtf8("Linhas mais antigas retiradas desta tabela: %1 (o arquivo de log guarda todas)")
          .arg(n));
  lblLinhasDescartadas_->show();
}

void TFrmPrincipal::MostrarIndicadores(const op::TIndicadores& ind) {
  lblNumRequisicoes_->setText(Q(ind.lblNumRequisicoes));
  lblTmpMedio_->setText(Q(ind.lblTmpMedio));
  lblUpload_->setText(Q(ind.lblUpload));
  lblSessoesAbertas_->setText(QString::number(ind.SessoesAbertas));
  lblFalhasSoap_->setText(QString::number(ind.FalhasSoap));
  lblResultadosFalse_->setText(QString::number(ind.ResultadosFalse));
  lblRecusas_->setText(QString::number(ind.Recusas));
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
  opcoes_.caixa->Erro(this, Q(std::string(op::kTituloAplicacao)), Q(text));
}

void TFrmPrincipal::FocusPort() { edtNumPorta_->setFocus(); }

}  // namespace orv::window
