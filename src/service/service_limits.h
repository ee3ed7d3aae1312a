// The limits of the collector operations, each with its reason.
//
// Thread safety: constants only.
#pragma once

#include <cstddef>

namespace orv::service {

// Characters (UTF-16 code units) of one piece of text from a request (a user name, a statement,
// a database message that may quote it, a bar code) that a log entry carries; what is cut is
// marked with its length. An entry holds at most three such pieces beside its own words, so no
// entry passes about 13 000 characters: a 64 MiB user name would otherwise be one 64 MiB line,
// in the file and in the window's table. Real statements and messages are far shorter.
inline constexpr std::size_t kMaxCaracteresTextoNoLog = 4096;

}  // namespace orv::service
