// The SCONF.xml writer.
#include "data/config/sconf_writer.h"

#include <cstdio>
#include <stdexcept>
#include <utility>
#include <vector>

#include "data/config/sconf.h"
#include "util/text.h"
#include "util/utilities.h"

namespace orv::data {

namespace {

constexpr int kColunas = 80;

std::string NomeCampo(int number) {
  char name[16];
  std::snprintf(name, sizeof name, "CAMPO_%02d", number);
  return name;
}

// One column value: scrambled, in the 8-bit page, escaped for an attribute.
std::string Atributo(std::string_view campo, std::string_view plain, bool utf8,
                     std::string_view page) {
  bool storable = util::IsValidUtf8(plain);
  for (const char16_t unit : util::Utf8ToUtf16(plain)) storable = storable && unit <= 0xFF;
  if (!storable)
    throw std::invalid_argument("O valor de " + std::string(campo) +
                                  " tem um caractere que não se guarda cifrado: \"" +
                                  std::string(plain) + "\"");
  const std::string scrambled = util::CifrarTexto(plain);
  const std::string bytes = util::Utf8ToCodePage(scrambled, page);
  if (util::CodePageToUtf8(bytes, page) != scrambled)
    throw std::invalid_argument("O valor de " + std::string(campo) +
                                " tem um caractere que a página de código " + std::string(page) +
                                " não representa: \"" + std::string(plain) + "\"");
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '<': out += "&lt;"; continue;
      case '>': out += "&gt;"; continue;
      case '&': out += "&amp;"; continue;
      case '"': out += "&quot;"; continue;
      case '\'': out += "&apos;"; continue;
      default: break;
    }
    if (b < 0x20 || b == 0x7F || c == '\\') {
      char ref[8];
      std::snprintf(ref, sizeof ref, "&#%03u;", static_cast<unsigned>(b));
      out += ref;
    } else if (b >= 0x80 && utf8) {
      out += util::CodePageToUtf8(std::string_view(&c, 1), page);
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string GerarSconf(const SconfValores& v, bool utf8, std::string_view page) {
  const std::vector<std::pair<int, std::string>> valores = {
      {1, v.Servidor}, {3, std::to_string(v.TipoBanco)}, {5, v.Gestao}, {8, v.Usuario},
      {9, v.Senha},    {10, v.Online},                   {11, v.Oracle},
  };
  std::string out = utf8 ? "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                         : "<?xml version=\"1.0\" standalone=\"yes\"?>\r\n";
  out += "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
  for (int number = 1; number <= kColunas; ++number)
    out += "<FIELD attrname=\"" + NomeCampo(number) + "\" fieldtype=\"string\" WIDTH=\"255\"/>";
  out += "</FIELDS><PARAMS/></METADATA><ROWDATA><ROW";
  for (const auto& [number, plain] : valores) {
    const std::string name = NomeCampo(number);
    out += " " + name + "=\"" + Atributo(name, plain, utf8, page) + "\"";
  }
  out += "/></ROWDATA></DATAPACKET>\r\n";
  return out;
}

std::string GerarSconf(const SconfValores& valores, bool utf8) {
  return GerarSconf(valores, utf8, PaginaCodigoSconf());
}

void GravarSconf(const std::string& path, const SconfValores& valores, bool utf8,
                 util::Env& env) {
  if (!env.WriteFileAtomic(path, GerarSconf(valores, utf8)))
    throw std::runtime_error("Não foi possível gravar \"" + path + "\"");
}

}  // namespace orv::data
