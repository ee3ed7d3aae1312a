#include "data/process_end.h"

#include <ibase.h>

#include <cstdio>
#include <cstdlib>

#include "data/data_limits.h"
#include "data/sql.h"

#if defined(__SANITIZE_ADDRESS__)
#define ORV_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define ORV_LEAK_CHECKER 1
#endif
#endif
#ifdef ORV_LEAK_CHECKER
#include <sanitizer/lsan_interface.h>
#endif

namespace orv::data {

void EndProcess(int status) {
  const bool left_alone = AbandonedConnections() > 0;
  if (!left_alone) {
    // Returns once the client's threads have ended (or the time-out passed); the client can
    // no longer be used afterwards, which is what ending means.
    fb_shutdown(static_cast<unsigned>(kClientShutdownTimeout.count()), fb_shutrsn_app_stopped);
  }
#ifdef ORV_LEAK_CHECKER
  __lsan_do_leak_check();   // ends the process with the checker's status when it finds leaks
#endif
  if (!left_alone) std::exit(status);
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace orv::data
