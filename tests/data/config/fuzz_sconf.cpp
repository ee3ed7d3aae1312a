// Fuzzes the decoding of SCONF.xml bytes. The input is either used as the whole file, or
// spliced into a valid packet so that random bytes also reach the deeper rules. Every
// rejection must be one of the reader's own messages; anything else aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "data/config/datapacket.h"
#include "data/config/sconf.h"
#include "util/regional.h"
#include "util/utilities.h"

namespace {

std::string Template() {
  std::string fields;
  for (int n = 1; n <= 80; ++n) {
    if (n == 59) continue;
    fields += "<FIELD attrname=\"CAMPO_" + std::string(n < 10 ? "0" : "") + std::to_string(n) +
              "\" fieldtype=\"string\" WIDTH=\"255\"/>";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" + fields +
         "<FIELD attrname=\"X\" fieldtype=\"i4\"/></FIELDS><PARAMS CHANGE_LOG=\"1 0 8\"/>"
         "</METADATA><ROWDATA><ROW RowState=\"1\" CAMPO_01=\"ol`okplpw\" CAMPO_03=\"3\" "
         "CAMPO_05=\"&#044;g&amp;&#x12c;\"/><ROW RowState=\"8\" CAMPO_01=\"p\xC3\xA9qu32\"/>"
         "<ROW CAMPO_03=\"1\"/></ROWDATA></DATAPACKET>";
}

bool Known(const std::string& m) {
  const std::string table = "CdsSCONF: ";
  return m == orv::data::kMsgMismatch || m == orv::data::kMsgInvalidFieldType ||
         m == table + orv::data::kMsgMissingPacket || m.rfind(table + "Field 'CAMPO_", 0) == 0 ||
         m.rfind(table + "Type mismatch for field 'CAMPO_", 0) == 0 ||
         // The integer message quotes the decoded text, which may hold a NUL that ends what().
         m.rfind("''", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool init = [] {
    orv::util::SetRegional(orv::util::RegionalPtBR());
    return true;
  }();
  (void)init;
  static const std::string base = Template();
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string bytes;
  if (size >= 4 && (data[0] & 1)) {
    // Splice: replace data[2] % 32 bytes at a chosen offset by the rest of the input.
    const std::size_t at = (static_cast<std::size_t>(data[1]) << 8 | data[2]) % base.size();
    const std::size_t cut = data[3] % 32;
    bytes = base;
    bytes.replace(at, cut, input.substr(4));
  } else {
    bytes.assign(input);
  }
  try {
    const orv::data::ConfigConexao c = orv::data::DecodificarSconf(bytes, "", "");
    (void)c;
  } catch (const std::runtime_error& e) {
    if (!Known(e.what())) {
      std::fprintf(stderr, "unexpected message: %s\n", e.what());
      std::abort();
    }
  }
  return 0;
}
