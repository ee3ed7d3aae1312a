// Binding the service's columns to SCONF.xml and decoding the first record.
#include "data/config/sconf.h"

#include <array>
#include <stdexcept>

#include "data/config/datapacket.h"
#include "util/regional.h"
#include "util/text.h"
#include "util/utilities.h"

namespace orv::data {

namespace {

std::runtime_error TableError(const std::string& message) {
  return std::runtime_error(std::string(kNomeTabelaSconf) + ": " + message);
}

std::string NomeCampo(int number) {
  return std::string("CAMPO_") + static_cast<char>('0' + number / 10) +
         static_cast<char>('0' + number % 10);
}

// The service declares CAMPO_01..CAMPO_80 except CAMPO_59.
constexpr int kUltimoCampo = 80;
constexpr int kCampoAusente = 59;

enum Campo {
  kServidor = 1,
  kTipoBanco = 3,
  kGestao = 5,
  kUsuario = 8,
  kSenha = 9,
  kOnline = 10,
  kOracle = 11,
};

}  // namespace

std::string PaginaCodigoSconf() {
  const std::string ansi = util::Regional().ansi_code_page;
  try {
    if (util::IsSingleByteCodePage(ansi)) return ansi;
  } catch (const std::invalid_argument&) {
    // an unknown page name: fall back like a multi-byte one
  }
  return "WINDOWS-1252";
}

std::optional<std::int32_t> LerInteiro(std::string_view t) {
  std::size_t i = 0;
  while (i < t.size() && t[i] == ' ') ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  bool hex = false;
  if (i < t.size() && t[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= t.size()) return std::nullopt;
  std::uint64_t value = 0;
  const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
  for (; i < t.size(); ++i) {
    const char c = t[i];
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (hex && c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
    else return std::nullopt;
    value = value * (hex ? 16 : 10) + d;
    if (value > limit) return std::nullopt;
  }
  // Two's complement through uint32: "$FFFFFFFF" is -1, "-2147483648" fits.
  std::uint32_t bits = static_cast<std::uint32_t>(value);
  if (negative) bits = ~bits + 1u;
  return static_cast<std::int32_t>(bits);
}

ConfigConexao DecodificarSconf(std::string_view bytes, const std::string& User,
                               const std::string& PassWd) {
  const std::string page = PaginaCodigoSconf();
  DataPacket packet;
  try {
    packet = ReadDataPacket(bytes, page);
  } catch (const DataPacketError& e) {
    if (e.table_message) throw TableError(e.what());
    throw std::runtime_error(e.what());
  }

  // Bind the service's columns in order; the first one missing or of another type stops.
  std::array<std::size_t, kUltimoCampo + 1> bound{};
  for (int number = 1; number <= kUltimoCampo; ++number) {
    if (number == kCampoAusente) continue;
    const std::string name = NomeCampo(number);
    std::size_t f = 0;
    while (f < packet.fields.size() && !util::AsciiIEquals(packet.fields[f].name, name)) ++f;
    if (f == packet.fields.size()) throw TableError("Field '" + name + "' not found");
    if (!util::AsciiIEquals(packet.fields[f].type, "string"))
      throw TableError("Type mismatch for field '" + name + "', expecting: String actual: " +
                       FieldTypeDisplayName(packet.fields[f]));
    bound[static_cast<std::size_t>(number)] = f;
  }

  // A column of the first record, decoded; with no record every column reads as empty.
  const auto campo = [&](int number) -> std::string {
    if (packet.rows.empty()) return util::CifrarTexto("");
    const std::size_t f = bound[static_cast<std::size_t>(number)];
    std::string value = packet.rows.front().values[f].value_or(std::string());
    const std::int32_t width = packet.fields[f].width;
    const std::size_t limit =
        static_cast<std::size_t>(width > 0 && width < kLarguraMaximaCampo ? width
                                                                          : kLarguraMaximaCampo);
    if (value.size() > limit) value.resize(limit);
    return util::CifrarTexto(util::CodePageToUtf8(value, page));
  };

  ConfigConexao config;
  const std::string tipo = campo(kTipoBanco);
  const std::optional<std::int32_t> numero = LerInteiro(tipo);
  if (!numero) throw std::runtime_error("''" + tipo + "'' is not a valid integer value");
  config.TipoBanco = *numero;

  if (config.TipoBanco == 2) {   // Microsoft SQL Server
    config.Servidor = campo(kServidor);
    config.LocalGestao = campo(kGestao);
    config.Senha = PassWd.empty() ? campo(kSenha) : PassWd;
    config.Usuario = User.empty() ? campo(kUsuario) : User;
  } else if (config.TipoBanco == 3) {   // Oracle
    config.LocalGestao = campo(kOracle);
    config.Senha = PassWd.empty() ? campo(kSenha) : PassWd;
    config.Usuario = User.empty() ? campo(kUsuario) : User;
  } else {   // Firebird, Interbase and every other value
    config.Servidor = campo(kServidor);
    if (util::AsciiLower(config.Servidor) == "localhost") {
      config.LocalGestao = campo(kGestao);
      config.LocalOnline = campo(kOnline);
    } else {
      config.LocalGestao = config.Servidor + ":" + campo(kGestao);
      config.LocalOnline = config.Servidor + ":" + campo(kOnline);
    }
    config.Usuario = User;
    config.Senha = PassWd;
  }
  return config;
}

}  // namespace orv::data
