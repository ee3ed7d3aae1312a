// The fixed values of the operator's side: the program's title, the settings file orvws.ini
// (its name, section and keys), the ports an operator may choose and the window's pace, with
// the reason for each. Everything here is a compile-time constant; any thread may read it.
#pragma once

#include <cstdint>
#include <string_view>

namespace orv::op {

// Program title: the window's caption and the title of every error box.
inline constexpr std::string_view kTituloAplicacao = "Orv Web Service";

// Settings file beside the executable, its section and keys. Its size limit is
// util::kTamanhoMaximoIni (util/ini.h), beside its reader; a rewrite is atomic
// (Env::WriteFileAtomic, with util::kNewFileSuffix).
inline constexpr std::string_view kArquivoIni = "orvws.ini";
inline constexpr std::string_view kSecaoConf = "Conf";
inline constexpr std::string_view kChaveNumPorta = "NumPorta";
inline constexpr std::string_view kChaveIniAut = "IniAut";
// Addresses of the load balancers whose PROXY header names the collector (comma-separated);
// absent or empty: none.
inline constexpr std::string_view kChaveProxiesConfiaveis = "ProxiesConfiaveis";

// The port used when the settings file has none (and the field's initial text).
inline constexpr std::int32_t kPortaPadrao = 8080;
// The port field takes at most four typed digits, so the highest port an operator can type;
// anything higher can only come from the settings file and is refused.
inline constexpr std::int32_t kPortaMaxima = 9999;
inline constexpr int kMaxDigitosPorta = 4;
// Port 0 would make the system pick a random port that no collector could find; below 1 is
// refused like a port above the maximum.
inline constexpr std::int32_t kPortaMinima = 1;

// The operator window shows new log rows and indicators at most this often: under load a
// repaint (and a table update) per line would take the window's thread, and with it a core,
// away from the connections; a tenth of a second still reads as at once.
inline constexpr int kPausaJanelaMs = 100;

}  // namespace orv::op
