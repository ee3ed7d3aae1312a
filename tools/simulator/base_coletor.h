// The handheld's local store, in SQLite: the collector-side tables that the download script
// and the answers of AddItemPesquisa write, the application of those scripts statement by
// statement, and the few questions a collector asks its store (what to collect, what it
// knows about its user, whether a collected price was confirmed).
//
// Thread safety: one TBaseColetor per thread (each collector has its own store).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace orv::sim {

class ErroBaseLocal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Splits a script into its statements the way SQLite reads them: a ";" inside a quoted literal
// does not end a statement. Blank pieces are dropped; a last piece without ";" is kept.
std::vector<std::string> SepararComandos(std::string_view script);

struct ResultadoScript {
  int comandos = 0;
  int falhos = 0;
  std::string primeiro_erro;   // "<message> em: <statement>" of the first failing statement
};

struct UsuarioColetor {
  std::int32_t cod_usuario = 0;
  std::int32_t cod_loja = 0;
  std::string des_usuario;
  std::string flg_mult_loja;
};

// A product that may be collected for a survey entry: the entry has no price for it yet.
struct ItemColeta {
  std::int32_t cod_pesquisa_header = 0;
  std::int32_t cod_pesquisa = 0;
  std::int32_t cod_loja = 0;
  std::string cod_produto;
  std::string cod_ean;
};

// The local row of a collected price.
struct EstadoColeta {
  std::string cod_produto;
  std::string flg_sincronizado;
  std::string flg_nao_ex_pesq, flg_nao_ex_ean, flg_nao_ex_prod;
};

class TBaseColetor {
 public:
  // ":memory:" or a file path; the tables are created when missing.
  explicit TBaseColetor(const std::string& arquivo = ":memory:");
  ~TBaseColetor();
  TBaseColetor(const TBaseColetor&) = delete;
  TBaseColetor& operator=(const TBaseColetor&) = delete;

  // Runs every statement of the script in one transaction; a failing statement is counted
  // and the others still run, as the handheld's store would keep what it could apply.
  ResultadoScript Aplicar(std::string_view script);
  // Empties the tables that a download rebuilds, so that what follows is that download alone.
  void LimparDownload();

  // The user row of the download (DES_USUARIO compared in ASCII upper case).
  std::optional<UsuarioColetor> Usuario(std::string_view nome);
  // Distinct stores of the downloaded survey entries.
  std::vector<std::int32_t> LojasDasPesquisas();
  // Stores of the downloaded prices that belong to no downloaded entry (-1), or to entries of
  // other stores than `loja`: a download for one store holds none of those.
  std::int64_t PrecosForaDaLoja(std::int32_t loja);
  // Up to `maximo` items of entries of `loja` (every store when nullopt) in a fixed order.
  std::vector<ItemColeta> Candidatos(std::optional<std::int32_t> loja, std::size_t maximo);
  // Records a price read on the shelf, not yet confirmed by the service.
  void RegistrarColeta(const ItemColeta& item, double valor);
  std::optional<EstadoColeta> Coleta(std::int32_t header, std::int32_t pesquisa, std::string_view ean);
  std::int64_t Contar(std::string_view tabela);

 private:
  void Executar(const std::string& sql);

  sqlite3* db_ = nullptr;
};

}  // namespace orv::sim
