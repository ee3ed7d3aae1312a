// How the programs (and the test programs that use the database engine) end: the database
// client is shut down in order, while nothing else runs, and then the process exits.
//
// Thread safety: called once, from the main thread, after every other thread of the program's
// own has ended.
#pragma once

namespace orv::data {

// Ends the process with `status`, as returning it from main does, once the program's own
// objects are gone:
// - With no connection left alone (the normal case), the Firebird client is shut down first
//   (its engine's and its own helper threads are stopped and joined, every attachment ended),
//   bounded by kClientShutdownTimeout, then exit handlers run as usual.
// - When connections were left alone after losing their server, the client's shutdown would
//   walk their dead handles and has crashed the process there, after all its work was done:
//   the C streams are flushed and the process ends without exit handlers (committed data is
//   already in the database; nothing else is pending).
// Under the leak checker the leak check runs here, between the client's shutdown and the exit
// handlers, instead of at exit: the client's exit-time teardown wakes and ends a thread of its
// own while the checker's exit-time pass suspends and scans every thread, and that pass crashed
// on some machines ("Tracer caught signal 11"). The check itself is the same, with the same
// suppressions; only its moment moves.
[[noreturn]] void EndProcess(int status);

}  // namespace orv::data
