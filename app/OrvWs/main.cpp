// OrvWs: the service with its operator window. No command-line arguments are read by the
// program (the window toolkit takes its own); the port and auto-start choice come from
// orvws.ini beside this program, the database from the installation's SCONF.xml.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <csignal>

#include "data/process_end.h"
#include "operator/operator_limits.h"
#include "operator/window/frm_principal.h"
#include "startup/limites.h"
#include "startup/servico.h"
#include "util/env.h"
#include "util/platform.h"

namespace {
// Set by SIGINT/SIGTERM: the message loop ends and the window's closing steps run, as if the
// operator had closed it.
volatile std::sig_atomic_t g_terminar = 0;
extern "C" void AoSinalDeTermino(int) { g_terminar = 1; }
// How often the message loop looks at that flag.
constexpr int kIntervaloVigiaMs = 200;

// The whole program, its objects destroyed on return.
int Executar(int argc, char** argv) {
  using namespace orv;
  // 1-2. The service with its registrations, on the real machine, then the request handler with
  // its web module class.
  startup::TServicoOrvWs servico({}, util::Env::Default());
  servico.PrepararRequestHandler();

  // 3. The window toolkit.
  QApplication app(argc, argv);
  const QString titulo = QString::fromUtf8(op::kTituloAplicacao.data(),
                                           static_cast<int>(op::kTituloAplicacao.size()));
  QApplication::setApplicationName(titulo);
  QApplication::setWindowIcon(window::IconeAplicacao());

  // 4. The data module, under the busy cursor; a failure is shown and ends the process.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::string falha = servico.DataModuleCreate();
  QApplication::restoreOverrideCursor();
  if (!falha.empty()) {
    QMessageBox::critical(nullptr, titulo, QString::fromStdString(falha), QMessageBox::Ok);
    return 0;
  }

  // 5-6. The main window (its creation steps run in its constructor) and the message loop.
  {
    window::TFrmPrincipal janela(servico.Pecas(), {});
    janela.show();
    std::signal(SIGINT, AoSinalDeTermino);
    std::signal(SIGTERM, AoSinalDeTermino);
    QTimer vigia;
    QObject::connect(&vigia, &QTimer::timeout, &janela, [] {
      if (g_terminar) QApplication::quit();
    });
    vigia.start(kIntervaloVigiaMs);
    QApplication::exec();
    janela.Fechar();   // the closing steps, when the loop ended without the window closing
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  orv::util::platform::ConfigureAllocator(orv::startup::kLimiarBlocoProprio,
                                          orv::startup::kMaxHeapsAlocador);
  orv::data::EndProcess(Executar(argc, argv));
}
