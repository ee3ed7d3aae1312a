// Writes an installation's SCONF.xml from plain values: the data packet with the text columns
// CAMPO_01..CAMPO_80 and one record whose values are scrambled with CifrarTexto, as the
// reader (sconf.h) expects them. Used by the orvws-sconf tool and by tests.
//
// Thread safety: any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "util/env.h"

namespace orv::data {

struct SconfValores {
  std::int32_t TipoBanco = 0;   // CAMPO_03
  std::string Servidor;         // CAMPO_01
  std::string Gestao;           // CAMPO_05: management database path, alias or SQL Server name
  std::string Online;           // CAMPO_10
  std::string Usuario;          // CAMPO_08
  std::string Senha;            // CAMPO_09
  std::string Oracle;           // CAMPO_11: Oracle client identifier
};

// The file's bytes. utf8: a UTF-8 file with its declaration; otherwise an 8-bit file in
// code_page (the page the reader will use, PaginaCodigoSconf()). Values are UTF-8.
// Raises std::invalid_argument when a value holds a character that cannot survive the
// scrambling (above U+00FF) or that the code page lacks.
std::string GerarSconf(const SconfValores& valores, bool utf8, std::string_view code_page);
std::string GerarSconf(const SconfValores& valores, bool utf8);   // with PaginaCodigoSconf()

// Writes the file through the Env, replacing it atomically (Env::WriteFileAtomic). Raises
// std::runtime_error when it cannot be written.
void GravarSconf(const std::string& path, const SconfValores& valores, bool utf8,
                 util::Env& env = util::Env::Default());

}  // namespace orv::data
