// orvwsd: the OrvWs service without a window. The port comes from orvws.ini beside this
// program, the database from the installation's SCONF.xml; the command line only chooses
// between serving (no option), --check, --version and --help (orvwsd --help tells them).
#include "data/process_end.h"
#include "startup/daemon.h"
#include "startup/limites.h"
#include "util/env.h"
#include "util/platform.h"

int main(int argc, char** argv) {
  orv::util::platform::ConfigureAllocator(orv::startup::kLimiarBlocoProprio,
                                          orv::startup::kMaxHeapsAlocador);
  orv::data::EndProcess(orv::startup::ExecutarDaemon(argc, argv, orv::util::Env::Default()));
}
