// TDmDados: the data module shared by every collector operation: the management connections,
// the registry of per-user connections ListaConexoes, the authentication key and the session
// table CdsAuth. Both programs (window and daemon) create one at start-up with
// DataModuleCreate.
//
// Thread safety: DataModuleCreate runs once on the main thread before any request thread
// exists. Afterwards every member may be used from any thread: the session table and the
// registry have their own locks, the SQL layer locks each connection per statement, and
// user logins are serialised by LoginMutex(). Before DataModuleCreate there are no
// connections: every member but the session table raises or returns nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "data/conexoes.h"
#include "service/cds_auth.h"
#include "util/env.h"

namespace orv::service {

// The fixed key every collector presents to Auth.
inline constexpr std::string_view kChaveAutenticacao = "7be09a4f2d31e8c6a05f93d7b2e6184c";

class TDmDados {
 public:
  TDmDados();
  ~TDmDados();
  TDmDados(const TDmDados&) = delete;
  TDmDados& operator=(const TDmDados&) = delete;

  // Start-up: ListaConexoes, Conectar("", "", env) (configuration file of the installation
  // folder, then the connections), ChaveAutenticacao, an empty CdsAuth. On failure raises an
  // error whose what() is exactly the message to show the operator.
  void DataModuleCreate(util::Env& env = util::Env::Default());
  // The same with the configuration already decoded (tools, tests): the connections are opened
  // from `config`.
  void DataModuleCreate(const data::ConfigConexao& config);

  const std::string& ChaveAutenticacao() const { return chave_; }
  // The database kind and the management database's location, as the configuration gave them.
  std::int32_t TipoBanco() const { return tipo_banco_; }
  const std::string& LocalGestao() const { return local_gestao_; }

  TCdsAuth& CdsAuth() { return cds_auth_; }
  // The connections; raise std::logic_error before DataModuleCreate.
  data::SqlConnection& ScnGestao() { return Conexoes().ScnGestao(); }
  data::Conexoes& Conexoes();

  // The registered connection of a user (exact name), or null.
  std::shared_ptr<data::SqlConnection> ConexaoRegistrada(std::string_view usuario) const;
  // A closed copy of the template ScnGestaoUsr, not registered.
  std::shared_ptr<data::SqlConnection> NovaConexaoDeUsuario();
  // Registers `conexao` for a user that has none (under LoginMutex(), once its login worked).
  void RegistrarConexao(const std::string& usuario, std::shared_ptr<data::SqlConnection> conexao);
  std::int32_t QuantidadeConexoes() const;
  // Held while a user connection's login parameters are set and it is opened.
  std::mutex& LoginMutex() { return login_mutex_; }

 private:
  std::unique_ptr<data::Conexoes> conexoes_;
  std::string chave_;
  std::int32_t tipo_banco_ = 0;
  std::string local_gestao_;
  TCdsAuth cds_auth_;
  std::mutex login_mutex_;
};

}  // namespace orv::service
