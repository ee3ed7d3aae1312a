// The installation folder and the installation's configuration file SCONF.xml: finding the
// folder through PATH, reading the data packet, decoding the scrambled fields and producing
// the connection settings (ConfigConexao), which the data module keeps.
//
// PATH and the file are read through the Env handed in.
//
// Thread safety: LerConfiguracao runs on the main thread at start-up, before any request
// thread exists.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "util/env.h"

namespace orv::data {

struct ConfigConexao {
  std::int32_t TipoBanco = 0;   // 0 Firebird, 1 Interbase, 2 SQL Server, 3 Oracle; others as 0/1
  std::string Servidor;
  std::string LocalGestao;
  std::string LocalOnline;
  std::string Usuario;
  std::string Senha;
};

// A failure of LerConfiguracao; what() is the whole message shown to the operator.
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kMsgSemPastaSistema =
    "Não foi encontrado o caminho do Orvalen no PATH do sistema.";
inline constexpr const char* kPrefixoErroConfig =
    "Incapaz de carregar as configurações do i-Orvalen. Mensagem de erro: \n\r";
inline constexpr const char* kNomeArquivoConfig = "SCONF.xml";
// SCONF.xml holds one short record; a file far larger is no configuration and is refused
// before it is read into memory.
inline constexpr std::size_t kTamanhoMaximoConfig = 16u * 1024 * 1024;

// The installation folder found through the Env's PATH (list separator and folder separator
// of the platform), or std::runtime_error "Não foi encontrado o caminho do Orvalen no PATH do
// sistema.".
std::string ObterPastaSistema(util::Env& env = util::Env::Default());
// The same algorithm on an explicit PATH text and separators (tests run both platforms' rules).
std::string ObterPastaSistema(std::string_view path_value, char list_separator,
                              char folder_separator);

// Reads SCONF.xml of the installation folder. Any failure raises ConfigError whose message is
// "Incapaz de carregar as configurações do i-Orvalen. Mensagem de erro: " "\n\r" + cause.
ConfigConexao LerConfiguracao(const std::string& User, const std::string& PassWd,
                              util::Env& env = util::Env::Default());

}  // namespace orv::data
