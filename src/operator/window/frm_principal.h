// TFrmPrincipal: the operator window (Qt 6 Widgets). It shows where the service runs and which
// database it serves, starts and stops the listener on the chosen port, keeps the port and the
// auto-start choice in orvws.ini, and shows the activity log with its three indicators. Every
// decision is taken by startup::TFrmPrincipalCore (shared with the daemon); this class maps it
// onto widgets, message boxes and the tray icon.
//
// Rows and indicators written by connection threads reach the window through queued signals:
// the log's observer only posts them, so a connection thread never waits for the window.
//
// Thread safety: the window and everything it owns live on the GUI (main) thread; only the
// observer callbacks run on other threads.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QMetaType>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <vector>

#include "host/startup/frm_principal_core.h"
#include "operator/activity_log.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableView;
class QAbstractTableModel;

Q_DECLARE_METATYPE(orv::op::TLogRow)
Q_DECLARE_METATYPE(orv::op::TIndicadores)

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

class TFrmPrincipal : public QMainWindow, public startup::IPrincipalView {
  Q_OBJECT
 public:
  struct Opcoes {
    ICaixaMensagem* caixa = nullptr;                     // null: real message boxes
    std::function<void(const QString&)> abrir_url;       // empty: the default browser
  };

  // Builds the controls and runs the creation steps (FormCreate).
  TFrmPrincipal(startup::PecasPrincipal pecas, Opcoes opcoes, QWidget* parent = nullptr);
  ~TFrmPrincipal() override;

  startup::TFrmPrincipalCore& Core() { return *core_; }
  // Refreshes the controls from the listener's state (ChangeStatusServer update).
  void AtualizarEstado();
  // The closing steps (FormClose), once: when the window closes, or when the program ends its
  // message loop otherwise.
  void Fechar();

  // startup::IPrincipalView
  std::string PortText() const override;
  void SetPortText(const std::string& text) override;
  bool AutoStart() const override;
  void SetAutoStart(bool checked) override;
  void SetPanel(int index, const std::string& text) override;
  void MostrarErro(const std::string& text) override;
  void FocusPort() override;

 signals:
  void linhaRecebida(orv::op::TLogRow row);
  void indicadoresRecebidos(orv::op::TIndicadores indicadores);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private slots:
  void AdicionarLinha(const orv::op::TLogRow& row);
  void MostrarIndicadores(const orv::op::TIndicadores& indicadores);
  void ChangeStatusServer();
  void lblLinkClick();

 private:
  class Observador;
  class ModeloLog;

  void CriarControles();
  void CriarBandeja();

  Opcoes opcoes_;
  op::TActivityLog* log_;
  std::unique_ptr<Observador> observador_;
  std::unique_ptr<startup::TFrmPrincipalCore> core_;

  QLineEdit* edtNumPorta_ = nullptr;
  QPushButton* btnIniciar_ = nullptr;
  QPushButton* btnParar_ = nullptr;
  QCheckBox* ckbIniAut_ = nullptr;
  QLabel* lblStatus_ = nullptr;
  TLinkLabel* lblLink_ = nullptr;
  QLabel* lblNumRequisicoes_ = nullptr;
  QLabel* lblTmpMedio_ = nullptr;
  QLabel* lblUpload_ = nullptr;
  QTableView* grade_ = nullptr;
  ModeloLog* modelo_ = nullptr;
  std::vector<QLabel*> paineis_;
  QSystemTrayIcon* bandeja_ = nullptr;
  bool fechado_ = false;
};

}  // namespace orv::window
