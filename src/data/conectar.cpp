// Conectar on its own, so that programs that never read the configuration file need not link
// the configuration reader.
#include "data/conexoes.h"

namespace orv::data {

ConfigConexao Conexoes::Conectar(const std::string& User, const std::string& PassWd,
                                 util::Env& env) {
  ConfigConexao config = LerConfiguracao(User, PassWd, env);
  AbrirConexoes(config);
  return config;
}

}  // namespace orv::data
