// TOrvWs: the four collector operations of IOrvWs (Auth, GetSQL, Exec, AddItemPesquisa).
//
// One instance serves one call: it is made with that call's context (the client address
// IpCliente) and the shared data module and activity log, keeps its own timing marks and its
// own copy of the caller's session row, and is discarded after the call.
//
// Thread safety: an instance belongs to one thread; any number of instances may run at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "operator/activity_log.h"
#include "service/cds_auth.h"
#include "soap/orvws_intf.h"

namespace orv::data {
class SqlConnection;
}

namespace orv::service {

class TDmDados;

// Passwords of collector users shorter than this are filled up to it on the right.
inline constexpr int kTamanhoMinimoSenha = 6;
// Filler of short passwords. A deployment constant: every collector login whose user name has
// fewer than kTamanhoMinimoSenha characters must have been created with this filler.
inline constexpr std::string_view kPreenchimentoSenha = "#";

// Prices must stay below this magnitude: the price column (NUMERIC(15,2)) holds 13 integer
// digits, and past its range the client layer's conversion to a scaled integer overflows
// without an error, storing a wrong number.
inline constexpr double kLimiteValorPesquisa = 1e13;

// The database password of a collector user: the name itself when it has 6 or more
// characters (as sent); otherwise the name trimmed and filled on the right with
// kPreenchimentoSenha up to 6 characters.
std::string SenhaDoUsuario(std::string_view UserName);

class TOrvWs final : public soap::IOrvWs {
 public:
  TOrvWs(soap::CallContext context, TDmDados& dm, op::TActivityLog& log);

  bool Auth(const std::string& KeyValue, const std::string& UserName) override;
  std::string GetSQL(const std::string& Value) override;
  std::vector<std::string> GetSQLEmPartes(const std::string& Value) override;
  std::string Exec(const std::string& Value) override;
  std::string AddItemPesquisa(std::int32_t CodPesquisa, std::int32_t CodConcorrente,
                              const std::string& CodEan, float ValPesquisa) override;

  // True when the caller's address has a session; that row becomes this call's current row.
  bool ClienteAutenticado();
  // When the caller has no session: ends the marks, writes "Coletor(<ip>) acesso negado " +
  // motivo and returns true.
  bool AcessoNegado(std::string_view motivo);
  // The connection of the current row's user. Only after ClienteAutenticado() returned true;
  // raises an error (never reaches an absent entry) when the user has no registered connection.
  std::shared_ptr<data::SqlConnection> ConexaoDoCliente() const;

  const std::string& IpCliente() const { return context_.ip_cliente; }
  const op::TOperationTiming& Marcas() const { return marcas_; }

 private:
  soap::CallContext context_;
  TDmDados& dm_;
  op::TOperationTiming marcas_;
  std::optional<TSessao> sessao_;
};

}  // namespace orv::service
