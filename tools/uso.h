// The answer of the command-line tools (orvws-sconf, orvws-sim) to a command line they cannot
// run, and to --help: the error after the program's name, then the usage text, on standard error.
//
// Thread safety: any thread (writes std::cerr); the tools call it from main before anything starts.
#pragma once

#include <iostream>
#include <string_view>

namespace orv::tools {

// Writes "<programa>: <erro>" (when erro is not empty) and the usage text; returns 2, the exit
// status of a usage error.
inline int ErroDeUso(std::string_view programa, std::string_view uso, std::string_view erro) {
  if (!erro.empty()) std::cerr << programa << ": " << erro << "\n";
  std::cerr << uso;
  return 2;
}

}  // namespace orv::tools
