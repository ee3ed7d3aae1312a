// orvws-sconf: writes an installation's SCONF.xml from plain values.
//   orvws-sconf --out DIR/SCONF.xml --tipo 0 --servidor localhost --gestao /abs/gestao.fdb
//               --online /abs/online.fdb [--usuario U --senha P --oracle ID --utf8]
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "data/config/sconf.h"
#include "data/config/sconf_writer.h"
#include "uso.h"

namespace {

constexpr const char* kUso =
    "uso: orvws-sconf --out ARQUIVO --tipo N [--servidor HOST] [--gestao BANCO] "
    "[--online BANCO]\n"
    "                 [--usuario USUARIO] [--senha SENHA] [--oracle ID] [--utf8]\n"
    "  --tipo: 0 Firebird, 1 Interbase, 2 SQL Server, 3 Oracle\n"
    "  --utf8: grava em UTF-8 (sem ela, na página de código de 8 bits do sistema)\n";

int Uso(const std::string& erro) { return orv::tools::ErroDeUso("orvws-sconf", kUso, erro); }

}  // namespace

int main(int argc, char** argv) {
  orv::data::SconfValores valores;
  std::string out;
  bool tipo_dado = false;
  bool utf8 = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return Uso(""), 0;
    if (arg == "--utf8") {
      utf8 = true;
      continue;
    }
    std::string* destino = nullptr;
    std::string tipo;
    if (arg == "--out") destino = &out;
    else if (arg == "--tipo") destino = &tipo;
    else if (arg == "--servidor") destino = &valores.Servidor;
    else if (arg == "--gestao") destino = &valores.Gestao;
    else if (arg == "--online") destino = &valores.Online;
    else if (arg == "--usuario") destino = &valores.Usuario;
    else if (arg == "--senha") destino = &valores.Senha;
    else if (arg == "--oracle") destino = &valores.Oracle;
    else return Uso("opção desconhecida: " + std::string(arg));
    if (i + 1 >= argc) return Uso("falta o valor de " + std::string(arg));
    *destino = argv[++i];
    if (arg == "--tipo") {
      const std::optional<std::int32_t> numero = orv::data::LerInteiro(tipo);
      if (!numero) return Uso("--tipo não é um número inteiro: " + tipo);
      valores.TipoBanco = *numero;
      tipo_dado = true;
    }
  }
  if (out.empty()) return Uso("falta --out");
  if (!tipo_dado) return Uso("falta --tipo");
  try {
    orv::data::GravarSconf(out, valores, utf8);
  } catch (const std::exception& e) {
    std::cerr << "orvws-sconf: " << e.what() << "\n";
    return 1;
  }
  std::cout << "Gravado " << out << "\n";
  return 0;
}
