// The data module's database connections: the service's connection ScnGestao, the closed
// template ScnGestaoUsr from which each collector user's connection is copied, the second
// Firebird connection ScnSemTrans, the connection profile of each database kind
// (AbrirConexoes), Conectar/Desconectar, and the registry of per-user connections
// ListaConexoes.
//
// Thread safety: Conexoes is set up (constructor, Conectar) on the main thread before any
// request thread exists; afterwards request threads use the connections (each serialises its
// own statements) and the registry (its own lock). Desconectar runs on the main thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "data/config/configuracao.h"
#include "data/sql.h"
#include "util/env.h"
#include "util/tclist.h"

namespace orv::data {

// Start of the message of every failure while the connections are opened.
inline constexpr std::string_view kPrefixoErroConexao =
    "Incapaz de conectar ao banco de dados. Mensagem de erro: ";

// A failure of AbrirConexoes: kPrefixoErroConexao, a line feed and a carriage return, then the
// cause's message.
class ConexaoError : public std::runtime_error {
 public:
  explicit ConexaoError(const std::string& cause);
};

// The credentials that the Firebird and Interbase kinds use when the configuration gives none
// (the service never passes any to Conectar).
inline constexpr std::string_view kUsuarioPadraoFirebird = "sysdba";
inline constexpr std::string_view kSenhaPadraoFirebird = "plinthwax";

// Initial settings of the three connections, before AbrirConexoes.
void IniciarScnSemTrans(SqlConnection& scn);
void IniciarScnGestao(SqlConnection& scn);   // also the initial settings of ScnGestaoUsr

// Sets the profile of config.TipoBanco on `scn` (the profile table: driver, connection name
// and parameters).
void AplicarPerfil(SqlConnection& scn, const ConfigConexao& config);

// The registry of per-user connections: a TCList of shared connections named by the user name
// exactly as the collector sent it. Entries are never removed. Every operation takes the
// registry's lock, so request threads may use it at once.
class ListaConexoes {
 public:
  using Lista = util::TCList<std::shared_ptr<SqlConnection>>;

  std::int32_t IndexOf(std::string_view name) const;
  // The connection registered under `name`; raises util::TCListError when there is none.
  std::shared_ptr<SqlConnection> ByName(std::string_view name) const;
  // The connection registered under `name`, or nullptr.
  std::shared_ptr<SqlConnection> Find(std::string_view name) const;
  void Add(std::shared_ptr<SqlConnection> connection, std::string name);
  std::int32_t Length() const;
  // The registered connection of `name`; when there is none, a copy of `modelo` is added under
  // `name` first (one step under the lock, so two threads never register the same name twice).
  // `added` (optional) tells which happened.
  std::shared_ptr<SqlConnection> Registrar(std::string_view name, const SqlConnection& modelo,
                                           bool* added = nullptr);
  // Runs `f` on the list under the lock.
  void ComLista(const std::function<void(const Lista&)>& f) const;

 private:
  mutable std::mutex mutex_;
  Lista lista_;
};

// The management connections that user lookups share: ScnGestao first, then closed copies of
// it, made when every existing one is in use (at most kConexoesConsultaGestao) and opened by
// their first statement. A lease holds one connection for one lookup; every statement on it
// is still committed on its own. A lease waits while all are in use: each lookup is a single
// statement, bounded by the lock and statement time-outs.
class PoolGestao {
 public:
  class Emprestimo {
   public:
    Emprestimo(Emprestimo&& o) noexcept : pool_(o.pool_), scn_(o.scn_) { o.pool_ = nullptr; }
    Emprestimo(const Emprestimo&) = delete;
    Emprestimo& operator=(const Emprestimo&) = delete;
    Emprestimo& operator=(Emprestimo&&) = delete;
    ~Emprestimo() {
      if (pool_) pool_->Devolver(scn_);
    }
    SqlConnection& operator*() const { return *scn_; }
    SqlConnection* operator->() const { return scn_; }

   private:
    friend class PoolGestao;
    Emprestimo(PoolGestao* pool, SqlConnection* scn) : pool_(pool), scn_(scn) {}
    PoolGestao* pool_;
    SqlConnection* scn_;
  };

  PoolGestao(SqlConnection& primeira, std::size_t maximo);
  ~PoolGestao();

  Emprestimo Emprestar();
  // Closes the copies (ScnGestao is closed by its owner) and forgets them; leases must have
  // ended. The next copies are made from ScnGestao as it is then.
  void Fechar();
  std::size_t Tamanho() const;   // ScnGestao and the copies made so far

 private:
  void Devolver(SqlConnection* scn);

  SqlConnection& primeira_;
  const std::size_t maximo_;
  mutable std::mutex mutex_;
  std::condition_variable livre_;
  std::vector<std::unique_ptr<SqlConnection>> copias_;
  std::vector<SqlConnection*> livres_;   // the most recently returned last
};

// The connections of the data module.
class Conexoes {
 public:
  Conexoes();   // the three connections with their initial settings; nothing is opened
  ~Conexoes();
  Conexoes(const Conexoes&) = delete;
  Conexoes& operator=(const Conexoes&) = delete;

  SqlConnection& ScnSemTrans() { return *scn_sem_trans_; }
  SqlConnection& ScnGestao() { return *scn_gestao_; }
  SqlConnection& ScnGestaoUsr() { return *scn_gestao_usr_; }
  // ScnGestao or a copy of it for one user lookup (PoolGestao).
  PoolGestao::Emprestimo EmprestarGestao() { return pool_gestao_.Emprestar(); }
  ListaConexoes& Lista() { return lista_; }

  // LerConfiguracao(User, PassWd, env), then AbrirConexoes with its result. A configuration
  // error leaves with its own message; a connection error as ConexaoError. Returns the settings
  // read.
  ConfigConexao Conectar(const std::string& User, const std::string& PassWd,
                         util::Env& env = util::Env::Default());
  // Closes ScnGestao, sets the profile, opens ScnSemTrans (Firebird and Interbase kinds), makes
  // the template ScnGestaoUsr and opens ScnGestao. Any failure raises ConexaoError.
  void AbrirConexoes(const ConfigConexao& config);
  // Closes ScnGestao and its copies.
  void Desconectar();

 private:
  std::unique_ptr<SqlConnection> scn_sem_trans_;
  std::unique_ptr<SqlConnection> scn_gestao_;
  std::unique_ptr<SqlConnection> scn_gestao_usr_;
  PoolGestao pool_gestao_;
  ListaConexoes lista_;
};

}  // namespace orv::data
