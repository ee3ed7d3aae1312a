// The port address file beside the executable: the executable's path without its extension
// followed by "_WSDLADMIN.INI". One INI section per port type (util/ini.h: section names
// compared without regard to ASCII case), each entry "port name=address". The publisher only
// reads it.
//
// Thread safety: any thread (the file is read through the Env handed in).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "soap/publish/wsdl_document.h"
#include "util/env.h"

namespace orv::soap::publish {

inline constexpr std::string_view kPortFileSuffix = "_WSDLADMIN.INI";

// "C:\Servicos\OrvWs.exe" -> "C:\Servicos\OrvWs_WSDLADMIN.INI"; "/opt/orvws/OrvWs" ->
// "/opt/orvws/OrvWs_WSDLADMIN.INI".
std::string PortFilePath(std::string_view executable_path);

// The entries of the first section named `section`, in file order (util::IniSection, by the
// rules of util/ini.h); nullopt when the text has no such section.
std::optional<std::vector<PortAddress>> PortsFromIni(std::string_view ini_text,
                                                     std::string_view section);

// The ports of the port type named `typed_name` (as typed in the request path): the entries of
// its section when the file exists and the section has entries, else the default port. A file
// that cannot be read (other than a missing one) or is larger than kMaxPortFileBytes raises
// std::runtime_error.
std::vector<PortAddress> PortsFor(util::Env& env, const std::string& port_file,
                                  std::string_view typed_name, std::string_view base_url);

}  // namespace orv::soap::publish
