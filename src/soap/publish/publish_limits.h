// Limits of the publisher, each with its reason.
//
// Thread safety: constants only.
#pragma once

#include <cstddef>

namespace orv::soap::publish {

// The port address file is read whole for every WSDL request; a real one holds a few lines.
// Anything larger is refused (the request gets the error page) instead of being read again and
// again into memory.
inline constexpr std::size_t kMaxPortFileBytes = 1024 * 1024;

}  // namespace orv::soap::publish
