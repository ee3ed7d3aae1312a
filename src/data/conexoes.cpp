#include "data/conexoes.h"

#include <algorithm>
#include <utility>

#include "data/data_limits.h"

namespace orv::data {
namespace {

constexpr std::string_view kTipoSqlServer = "MSSQL";
constexpr std::string_view kClienteSqlServer = "sqlncli10.dll";
// The library of this client layer that talks to SQL Server ("LibraryName" of the profile).
constexpr std::string_view kBibliotecaSqlServer = "soci_odbc";
constexpr std::string_view kClienteFirebird = "fbclient.dll";

void Set(SqlConnection& scn, std::string_view name, std::string_view value) {
  scn.SetParam(name, value);
}

// Parameters shared by the Oracle and the Firebird/Interbase profiles.
void PerfilComum(SqlConnection& scn, const ConfigConexao& c) {
  Set(scn, "DataBase", c.LocalGestao);
  Set(scn, "RoleName", "");
  Set(scn, "ServerCharSet", "");
  Set(scn, "SQLDialect", "3");
  Set(scn, "ErrorResourceFile", "");
  Set(scn, "LocaleCode", "0000");
  Set(scn, "BlobSize", "-1");
  Set(scn, "CommitRetain", "False");
  Set(scn, "WaitOnLocks", "True");
  Set(scn, "InterBase TransIsolation", "ReadCommited");
  Set(scn, "Trim Char", "False");
}

}  // namespace

ConexaoError::ConexaoError(const std::string& cause)
    : std::runtime_error(std::string(kPrefixoErroConexao) + "\n\r" + cause) {}

void IniciarScnSemTrans(SqlConnection& scn) {
  scn.SetLoginPrompt(false);
  scn.SetDriver("Firebird", std::string(kClienteFirebird));
}

void IniciarScnGestao(SqlConnection& scn) {
  scn.SetLoginPrompt(false);
  scn.SetConnectionName("FBConnection");
  scn.SetDriver(std::string(kTipoSqlServer), std::string(kClienteSqlServer));
  // The client layer's own defaults for that driver; the profile overrides what it names.
  scn.SetParam("BlobSize", "-1");
  scn.SetParam("MSSQL TransIsolation", "ReadCommited");
}

void AplicarPerfil(SqlConnection& scn, const ConfigConexao& c) {
  switch (c.TipoBanco) {
    case 2:  // Microsoft SQL Server
      scn.SetDriver(std::string(kTipoSqlServer), std::string(kClienteSqlServer));
      Set(scn, "HostName", c.Servidor);
      Set(scn, "DataBase", c.LocalGestao);
      Set(scn, "User_Name", c.Usuario);
      Set(scn, "Password", c.Senha);
      Set(scn, "ErrorResourceFile", "");
      Set(scn, "BlobSize", "-1");
      Set(scn, "MSSQL TransIsolation", "ReadCommited");
      Set(scn, "LibraryName", kBibliotecaSqlServer);
      Set(scn, "VendorLib", scn.VendorLib());
      break;
    case 3:  // Oracle
      scn.SetConnectionName("OracleConnection");
      scn.SetDriver("Oracle", "");
      Set(scn, "DriverName", "Oracle");
      PerfilComum(scn, c);
      Set(scn, "User_Name", c.Usuario);
      Set(scn, "Password", c.Senha);
      break;
    default:  // Firebird, Interbase and every other value
      scn.SetConnectionName("FBConnection");
      scn.SetDriver("Firebird", std::string(kClienteFirebird));
      Set(scn, "DriverName", "Firebird");
      PerfilComum(scn, c);
      Set(scn, "User_Name", c.Usuario.empty() ? kUsuarioPadraoFirebird : c.Usuario);
      Set(scn, "Password", c.Senha.empty() ? kSenhaPadraoFirebird : c.Senha);
      break;
  }
}

// ---------------------------------------------------------------------------------------------

std::int32_t ListaConexoes::IndexOf(std::string_view name) const {
  std::lock_guard lock(mutex_);
  return lista_.IndexOf(name);
}

std::shared_ptr<SqlConnection> ListaConexoes::ByName(std::string_view name) const {
  std::lock_guard lock(mutex_);
  return lista_.ByName(name);
}

std::shared_ptr<SqlConnection> ListaConexoes::Find(std::string_view name) const {
  std::lock_guard lock(mutex_);
  const std::int32_t i = lista_.IndexOf(name);
  return i < 0 ? nullptr : lista_.Item(i);
}

void ListaConexoes::Add(std::shared_ptr<SqlConnection> connection, std::string name) {
  std::lock_guard lock(mutex_);
  lista_.Add(std::move(connection), std::move(name));
}

std::int32_t ListaConexoes::Length() const {
  std::lock_guard lock(mutex_);
  return lista_.Length();
}

std::shared_ptr<SqlConnection> ListaConexoes::Registrar(std::string_view name,
                                                        const SqlConnection& modelo,
                                                        bool* added) {
  std::lock_guard lock(mutex_);
  const std::int32_t i = lista_.IndexOf(name);
  if (added) *added = i < 0;
  if (i >= 0) return lista_.Item(i);
  std::shared_ptr<SqlConnection> copy = modelo.Copy();
  lista_.Add(copy, std::string(name));
  return copy;
}

void ListaConexoes::ComLista(const std::function<void(const Lista&)>& f) const {
  std::lock_guard lock(mutex_);
  f(lista_);
}

// ---------------------------------------------------------------------------------------------

Conexoes::Conexoes()
    : scn_sem_trans_(std::make_unique<SqlConnection>()),
      scn_gestao_(std::make_unique<SqlConnection>()),
      scn_gestao_usr_(std::make_unique<SqlConnection>()),
      pool_gestao_(*scn_gestao_, kConexoesConsultaGestao) {
  IniciarScnSemTrans(*scn_sem_trans_);
  IniciarScnGestao(*scn_gestao_);
  IniciarScnGestao(*scn_gestao_usr_);
}

Conexoes::~Conexoes() = default;

void Conexoes::AbrirConexoes(const ConfigConexao& config) {
  try {
    pool_gestao_.Fechar();   // copies of the old settings
    scn_gestao_->Close();
    AplicarPerfil(*scn_gestao_, config);
    if (config.TipoBanco != 2 && config.TipoBanco != 3) {
      scn_sem_trans_->SetParam("DataBase", config.LocalGestao);
      // Without credentials of its own this connection could only log in where the server
      // checks nothing; it takes the management credentials of the profile.
      scn_sem_trans_->SetParam("User_Name", scn_gestao_->Param("User_Name"));
      scn_sem_trans_->SetParam("Password", scn_gestao_->Param("Password"));
      scn_sem_trans_->Open();
    }
    scn_gestao_usr_ = scn_gestao_->Copy();
    scn_gestao_->Open();
  } catch (const std::exception& e) {
    throw ConexaoError(e.what());
  }
}

void Conexoes::Desconectar() {
  pool_gestao_.Fechar();
  scn_gestao_->Close();
}

PoolGestao::PoolGestao(SqlConnection& primeira, std::size_t maximo)
    : primeira_(primeira), maximo_(std::max<std::size_t>(1, maximo)), livres_{&primeira} {}

PoolGestao::~PoolGestao() = default;

PoolGestao::Emprestimo PoolGestao::Emprestar() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!livres_.empty()) {
      SqlConnection* scn = livres_.back();
      livres_.pop_back();
      return Emprestimo(this, scn);
    }
    if (1 + copias_.size() < maximo_) {
      copias_.push_back(primeira_.Copy());
      return Emprestimo(this, copias_.back().get());
    }
    livre_.wait(lock);
  }
}

void PoolGestao::Devolver(SqlConnection* scn) {
  {
    std::lock_guard lock(mutex_);
    livres_.push_back(scn);
  }
  livre_.notify_one();
}

void PoolGestao::Fechar() {
  std::lock_guard lock(mutex_);
  for (auto& c : copias_) c->Close();
  copias_.clear();
  livres_.assign(1, &primeira_);
}

std::size_t PoolGestao::Tamanho() const {
  std::lock_guard lock(mutex_);
  return 1 + copias_.size();
}

}  // namespace orv::data
