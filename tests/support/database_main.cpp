// The main of the test programs that use the database engine. They end as the service's
// programs do: the database client is shut down in order, and under the leak checker the leak
// check runs at that moment instead of at exit (data/process_end.h says why: the client's
// exit-time teardown races the checker's exit-time pass, which crashed on some machines).
// Memory errors are checked throughout as in every other test program, and leaks are checked
// with the same suppressions; only the moment of the leak check moves.
#include <gtest/gtest.h>

#include "data/process_end.h"

// The same default when a program is run by hand (scripts/test.sh says why: the sanitizer
// runtime misreads some of the engine's thread-local blocks and its leak checker crashes).
extern "C" const char* __asan_default_options() { return "intercept_tls_get_addr=0"; }

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  orv::data::EndProcess(RUN_ALL_TESTS());
}
