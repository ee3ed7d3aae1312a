// orvwsd: the OrvWs service without a window. No command-line arguments are read: the port
// comes from orvws.ini beside this program, the database from the installation's SCONF.xml.
#include "data/process_end.h"
#include "host/startup/daemon.h"

int main() { orv::data::EndProcess(orv::startup::ExecutarDaemon()); }
