// Path patterns of the web dispatch: "*" any run of characters (also none), "?" exactly one
// character, "[abc]" / "[a-z]" one character of the set, "[!a-z]" one character outside it.
// Letter case is ignored (ASCII letters). A character is one byte; the service's patterns are
// ASCII.
//
// Thread safety: pure functions, any thread.
#pragma once

#include <string>
#include <string_view>

namespace orv::host {

bool MatchesPathPattern(std::string_view path, std::string_view pattern);

// A component's path text as a pattern: every "\" becomes "/", and a "/" is put in front when
// it does not start with one ("soap*" -> "/soap*").
std::string NormalisePathPattern(std::string_view text);

}  // namespace orv::host
