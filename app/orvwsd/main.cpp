// orvwsd: the OrvWs service without a window. No command-line arguments are read: the port
// comes from orvws.ini beside this program, the database from the installation's SCONF.xml.
#include "data/process_end.h"
#include "host/startup/daemon.h"
#include "host/startup/limites.h"
#include "util/platform.h"

int main() {
  orv::util::platform::ConfigureAllocator(orv::startup::kLimiarBlocoProprio,
                                          orv::startup::kMaxHeapsAlocador);
  orv::data::EndProcess(orv::startup::ExecutarDaemon());
}
