// Builders of SCONF.xml data packets for the configuration tests.
#pragma once

#include <map>
#include <string>

#include "util/utilities.h"

namespace orv::data::testing {

inline std::string Campo(int number) {
  return std::string("CAMPO_") + static_cast<char>('0' + number / 10) +
         static_cast<char>('0' + number % 10);
}

// FIELD declarations of CAMPO_01..CAMPO_80 (without 59 unless asked), string, WIDTH 255;
// `types` replaces the fieldtype (and more attributes) of chosen columns.
inline std::string Fields(const std::map<int, std::string>& types = {}, bool with59 = false) {
  std::string out;
  for (int n = 1; n <= 80; ++n) {
    if (n == 59 && !with59) continue;
    const auto it = types.find(n);
    if (it != types.end() && it->second.empty()) continue;   // column left out
    out += "<FIELD attrname=\"" + Campo(n) + "\" " +
           (it != types.end() ? it->second : std::string("fieldtype=\"string\" WIDTH=\"255\"")) +
           "/>";
  }
  return out;
}

inline std::string Packet(const std::string& fields, const std::string& rows,
                          const std::string& declaration =
                              "<?xml version=\"1.0\" standalone=\"yes\"?>\n") {
  return declaration + "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" + fields +
         "</FIELDS><PARAMS/></METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

// A ROW with CAMPO_03 scrambled from `tipo` and more raw attributes.
inline std::string Row(const std::string& tipo, const std::string& more = "") {
  return "<ROW CAMPO_03=\"" + util::CifrarTexto(tipo) + "\"" + (more.empty() ? "" : " " + more) +
         "/>";
}

}  // namespace orv::data::testing
