// The fixed values of the start-up spine, with the reason for each (the operator's side, with
// the settings file and the window, keeps its own in operator/operator_limits.h). Everything
// here is a compile-time constant; any thread may read it.
#pragma once

#include <cstddef>

namespace orv::startup {

// The allocator of both programs (util::platform::ConfigureAllocator). Request bodies, parse
// trees and downloads of hundreds of kilobytes to tens of megabytes come and go; from this size
// on a block gets pages of its own, returned to the system when freed, so that a burst of large
// requests leaves no lasting mark on the process's memory.
inline constexpr std::size_t kLimiarBlocoProprio = 256 * 1024;
// Heaps serving the threads: the service runs up to a hundred dispatch threads on two cores;
// each heap keeps what its threads freed, so few heaps keep little.
inline constexpr int kMaxHeapsAlocador = 4;

}  // namespace orv::startup
