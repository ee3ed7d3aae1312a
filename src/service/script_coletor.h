// The SQL text exchanged with the collectors: the management-database queries of the download
// (GetSQL) with their date condition and store filter, and the plain-text statements written
// for the collector's local store, with values between apostrophes.
//
// Thread safety: pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::data {
class SqlQuery;
}

namespace orv::service {

// Database kind whose date condition is written for Microsoft SQL Server.
inline constexpr std::int32_t kTipoBancoSqlServer = 2;
// GetSQL's argument asking for the users section alone (compared in ASCII upper case).
inline constexpr std::string_view kSomenteUsuarios = "GETUSUARIOS";
// Pattern of the dates written for the collector.
inline constexpr std::string_view kFormatoDataColetor = "yyyy-mm-dd tt";

// The sections of the download, in the order GetSQL runs them.
enum class Secao { kPesquisas, kConcorrentes, kProdutos, kCodigosBarra, kPrecos, kUsuarios };
inline constexpr Secao kSecoesCompletas[] = {Secao::kPesquisas,    Secao::kConcorrentes,
                                             Secao::kProdutos,     Secao::kCodigosBarra,
                                             Secao::kPrecos,       Secao::kUsuarios};

// The three lines of the date condition for the database kind.
std::vector<std::string> CondicaoData(std::int32_t tipo_banco);

// The query lines of a section. `loja` is the store code of a session bound to one store
// (FLG_MULT_LOJA "N"); nothing means no store filter.
std::vector<std::string> SqlSecao(Secao secao, std::int32_t tipo_banco,
                                  std::optional<std::int32_t> loja);

// Appends `value` between apostrophes to `out`, doubling every apostrophe inside it so the
// literal ends where the value ends.
void AppendLiteral(std::string& out, std::string_view value);
std::string Literal(std::string_view value);

// The download script, assembled in blocks so that its growth never copies what is already
// built; Take() joins the blocks into one text of exactly the script's size. Peak memory is
// about twice the script (the blocks and the joined text) instead of the three times a
// doubling string reaches while it reallocates.
class TScriptBuilder {
 public:
  // Size of one block: a row's statement is copied once into it, and the unused tail of the
  // last block (at most this much) stays small next to a large script.
  static constexpr std::size_t kTamanhoBloco = std::size_t{1} << 20;

  void Append(std::string_view text);
  std::size_t Size() const { return size_; }
  // The whole script; the builder is empty afterwards.
  std::string Take();
  // The script in the pieces it was made in (each holds whole statements); the builder is
  // empty afterwards. Joining them costs a second copy of the script for a moment.
  std::vector<std::string> TakeParts();

 private:
  std::vector<std::string> blocos_;
  std::size_t size_ = 0;
};

// The pieces of a script joined into one text, each released once copied.
std::string JuntarPartes(std::vector<std::string> partes);

// Appends the collector statement(s) of the current row of an open section query. The users
// section writes its "DELETE FROM TAB_USUARIO_COLETOR;" through AppendInicioSecao.
void AppendInicioSecao(std::string& out, Secao secao);
void AppendLinha(std::string& out, Secao secao, const data::SqlQuery& q);

}  // namespace orv::service
