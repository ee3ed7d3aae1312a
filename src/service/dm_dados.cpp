#include "service/dm_dados.h"

#include <stdexcept>

namespace orv::service {

TDmDados::TDmDados() = default;
TDmDados::~TDmDados() = default;

void TDmDados::DataModuleCreate(util::Env& env) {
  // ListaConexoes is created empty with the connections, before Conectar runs.
  conexoes_ = std::make_unique<data::Conexoes>();
  const data::ConfigConexao config = conexoes_->Conectar("", "", env);
  tipo_banco_ = config.TipoBanco;
  local_gestao_ = config.LocalGestao;
  chave_ = std::string(kChaveAutenticacao);
  cds_auth_.EmptyDataSet();
}

void TDmDados::DataModuleCreate(const data::ConfigConexao& config) {
  conexoes_ = std::make_unique<data::Conexoes>();
  conexoes_->AbrirConexoes(config);
  tipo_banco_ = config.TipoBanco;
  local_gestao_ = config.LocalGestao;
  chave_ = std::string(kChaveAutenticacao);
  cds_auth_.EmptyDataSet();
}

data::Conexoes& TDmDados::Conexoes() {
  if (!conexoes_) throw std::logic_error("TDmDados: DataModuleCreate não foi executado");
  return *conexoes_;
}

std::shared_ptr<data::SqlConnection> TDmDados::ConexaoRegistrada(std::string_view usuario) const {
  if (!conexoes_) return nullptr;
  return conexoes_->Lista().Find(usuario);
}

std::shared_ptr<data::SqlConnection> TDmDados::NovaConexaoDeUsuario() {
  return Conexoes().ScnGestaoUsr().Copy();
}

void TDmDados::RegistrarConexao(const std::string& usuario,
                                std::shared_ptr<data::SqlConnection> conexao) {
  Conexoes().Lista().Add(std::move(conexao), usuario);
}

std::int32_t TDmDados::QuantidadeConexoes() const {
  return conexoes_ ? conexoes_->Lista().Length() : 0;
}

}  // namespace orv::service
