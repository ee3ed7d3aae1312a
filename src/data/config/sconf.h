// The content of SCONF.xml: the service's 79 text columns CAMPO_01..CAMPO_58 and
// CAMPO_60..CAMPO_80 bound to a data packet, and the decoding of the first record into the
// connection settings. LerConfiguracao (configuracao.h) reads the file and calls this; the
// writer (sconf_writer.h) produces files it accepts.
//
// Thread safety: pure functions (they read the regional settings); any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data/config/configuracao.h"

namespace orv::data {

// The table's name, shown before the messages that the table reports.
inline constexpr const char* kNomeTabelaSconf = "CdsSCONF";
// The service's text columns are 255 characters wide; longer values (a WIDTH above 255) are
// cut to that, and a smaller WIDTH cuts to itself.
inline constexpr std::int32_t kLarguraMaximaCampo = 255;

// The 8-bit code page of the configuration's text columns: the regional ANSI code page when
// it is a single-byte one, else WINDOWS-1252. On a Windows host this is the ANSI code page
// itself; a POSIX host's UTF-8 locale cannot be an 8-bit page, and WINDOWS-1252 is what the
// installations' files are written in.
std::string PaginaCodigoSconf();

// Decodes the bytes of a SCONF.xml file as LerConfiguracao does after reading it (no
// process-wide value is set). Raises std::runtime_error with the cause message of the error
// table ("CdsSCONF: " before the table's own messages).
ConfigConexao DecodificarSconf(std::string_view bytes, const std::string& User,
                               const std::string& PassWd);

// Whole-number text as the configuration accepts it: optional leading spaces, an optional
// sign, then decimal digits, or hexadecimal digits after "$" or "0x"; nothing may follow;
// the value must fit 32 bits (hexadecimal up to FFFFFFFF, read as two's complement).
std::optional<std::int32_t> LerInteiro(std::string_view text);

}  // namespace orv::data
