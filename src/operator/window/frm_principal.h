// TFrmPrincipal: the operator window (Qt 6 Widgets). It shows where the service runs and which
// database it serves, starts and stops the listener on the chosen port, keeps the port and the
// auto-start choice in orvws.ini, and shows the activity log with its indicators: requests,
// average time and bytes sent, failed operations (SOAP faults, "false" answers and refused
// requests, apart) and open sessions. Every decision is taken by op::TFrmPrincipalCore
// (shared with the daemon); this class maps it onto widgets, message boxes and the tray icon.
//
// The log grid follows new rows while it is scrolled to the bottom and holds still (on the same
// rows) while scrolled up; it keeps as many rows as the log table does, and a line says how many
// older rows left it (the file keeps them all). A filter field shows only the rows holding a
// text (ASCII letters without regard to case), and a button opens the log folder.
//
// Rows and indicators written by connection threads are gathered by the log's observer, which
// only queues them and posts one wake-up, so a connection thread never waits for the window; the
// window takes what gathered at most every kPausaJanelaMs, in one table update.
//
// Thread safety: the window and everything it owns live on the GUI (main) thread; only the
// observer callbacks run on other threads.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <vector>

#include "operator/activity_log.h"
#include "operator/frm_principal_core.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace orv::window {

// Where the window's error boxes go: a real message box, or a recorder in tests.
class ICaixaMensagem {
 public:
  virtual ~ICaixaMensagem() = default;
  // An error box (error icon, OK button) with the given title and text.
  virtual void Erro(QWidget* parent, const QString& titulo, const QString& texto) = 0;
};
ICaixaMensagem& CaixaMensagemReal();

// A label that behaves as a link: blue, underlined, hand cursor, clicked by the left button.
class TLinkLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TLinkLabel(QWidget* parent = nullptr);
 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// The application's icon (window and tray), drawn so no image file is needed.
QIcon IconeAplicacao();

class TFrmPrincipal : public QMainWindow, public op::IPrincipalView {
  Q_OBJECT
 public:
  struct Opcoes {
    ICaixaMensagem* caixa = nullptr;                     // null: real message boxes
    // Opens an address (the link, the log folder as a file URL) with the system's handler;
    // false when it could not. Empty: the desktop's default handler.
    std::function<bool(const QString&)> abrir_url;
    std::size_t max_linhas = op::kMaxLinhasLog;          // rows the grid keeps (the newest)
  };

  // Builds the controls and runs the creation steps (FormCreate).
  TFrmPrincipal(op::PecasPrincipal pecas, Opcoes opcoes, QWidget* parent = nullptr);
  ~TFrmPrincipal() override;

  op::TFrmPrincipalCore& Core() { return *core_; }
  // Refreshes the controls from the listener's state (ChangeStatusServer update).
  void AtualizarEstado();
  // The closing steps (FormClose), once: when the window closes, or when the program ends its
  // message loop otherwise.
  void Fechar();

  // Whether rows or indicators handed over by the log still wait to be shown.
  bool HaPendentes() const;

  // op::IPrincipalView
  std::string PortText() const override;
  void SetPortText(const std::string& text) override;
  bool AutoStart() const override;
  void SetAutoStart(bool checked) override;
  void SetPanel(int index, const std::string& text) override;
  void MostrarErro(const std::string& text) override;
  void FocusPort() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private slots:
  void ChangeStatusServer();
  void lblLinkClick();
  void btnAbrirPastaClick();
  void edtFiltroChange(const QString& texto);

 private:
  class Observador;
  class ModeloLog;

  void CriarControles();
  void CriarBandeja();
  // Takes what the log handed over (on the window's thread): a wake-up schedules it, no sooner
  // than kPausaJanelaMs after the last time.
  void AgendarDescarga();
  void Descarregar();
  void MostrarIndicadores(const op::TIndicadores& indicadores);
  void MostrarDescartadas();

  Opcoes opcoes_;
  op::TActivityLog* log_;
  std::unique_ptr<Observador> observador_;
  std::unique_ptr<op::TFrmPrincipalCore> core_;

  QLineEdit* edtNumPorta_ = nullptr;
  QPushButton* btnIniciar_ = nullptr;
  QPushButton* btnParar_ = nullptr;
  QCheckBox* ckbIniAut_ = nullptr;
  QLabel* lblStatus_ = nullptr;
  TLinkLabel* lblLink_ = nullptr;
  QLabel* lblNumRequisicoes_ = nullptr;
  QLabel* lblTmpMedio_ = nullptr;
  QLabel* lblUpload_ = nullptr;
  QLabel* lblSessoesAbertas_ = nullptr;
  QLabel* lblFalhasSoap_ = nullptr;
  QLabel* lblResultadosFalse_ = nullptr;
  QLabel* lblRecusas_ = nullptr;
  QLineEdit* edtFiltro_ = nullptr;
  QPushButton* btnAbrirPasta_ = nullptr;
  QLabel* lblLinhasDescartadas_ = nullptr;
  QTableView* grade_ = nullptr;
  ModeloLog* modelo_ = nullptr;
  QTimer* descarga_ = nullptr;
  QElapsedTimer desde_descarga_;
  std::vector<QLabel*> paineis_;
  QSystemTrayIcon* bandeja_ = nullptr;
  bool fechado_ = false;
};

}  // namespace orv::window
