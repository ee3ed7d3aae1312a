// The handheld's local SQLite store.
#include "base_coletor.h"

#include <sqlite3.h>

#include <memory>

namespace orv::sim {

namespace {

// The collector-side tables. A collected price is first a row of its own (bar code read,
// product unknown); the service's answer fills its product and flags, so the key is a row id
// and a product may appear once per survey entry.
constexpr const char* kEsquema = R"SQL(
CREATE TABLE IF NOT EXISTS TAB_PESQUISA_HEADER (
  COD_PESQUISA_HEADER INTEGER PRIMARY KEY, DES_PESQUISA_HEADER TEXT, DTA_INICIO TEXT, DTA_TERMINO TEXT);
CREATE TABLE IF NOT EXISTS TAB_PESQUISA (
  COD_PESQUISA INTEGER NOT NULL, COD_PESQUISA_HEADER INTEGER NOT NULL, COD_LOJA INTEGER,
  DES_PESQUISA TEXT, PRIMARY KEY (COD_PESQUISA_HEADER, COD_PESQUISA));
CREATE TABLE IF NOT EXISTS TAB_PRODUTO (COD_PRODUTO TEXT PRIMARY KEY, DES_PRODUTO TEXT);
CREATE TABLE IF NOT EXISTS TAB_CODIGO_BARRA (COD_PRODUTO TEXT NOT NULL, COD_EAN TEXT PRIMARY KEY);
CREATE INDEX IF NOT EXISTS IX_CODIGO_BARRA_PRODUTO ON TAB_CODIGO_BARRA (COD_PRODUTO);
CREATE TABLE IF NOT EXISTS TAB_PRODUTO_PESQUISA (
  ID INTEGER PRIMARY KEY,
  COD_PRODUTO TEXT, COD_PESQUISA INTEGER, COD_PESQUISA_HEADER INTEGER,
  VAL_PESQUISA REAL, DTA_PESQUISA TEXT, COD_BARRA_COLETADO TEXT,
  FLG_SINCRONIZADO TEXT DEFAULT 'S', FLG_NAO_EX_PESQ TEXT DEFAULT 'N',
  FLG_NAO_EX_EAN TEXT DEFAULT 'N', FLG_NAO_EX_PROD TEXT DEFAULT 'N',
  UNIQUE (COD_PESQUISA_HEADER, COD_PESQUISA, COD_PRODUTO));
CREATE INDEX IF NOT EXISTS IX_PRODUTO_PESQUISA_EAN ON TAB_PRODUTO_PESQUISA (COD_BARRA_COLETADO);
CREATE TABLE IF NOT EXISTS TAB_USUARIO_COLETOR (
  COD_USUARIO INTEGER, COD_LOJA INTEGER, DES_USUARIO TEXT, DES_SENHA TEXT, FLG_MULT_LOJA TEXT);
)SQL";

struct Finalizar {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Comando = std::unique_ptr<sqlite3_stmt, Finalizar>;

// The statement, prepared on the store; raises with SQLite's message when it does not compile.
Comando Preparar(sqlite3* db, const char* sql) {
  sqlite3_stmt* bruto = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &bruto, nullptr);
  Comando s(bruto);
  if (!s) throw ErroBaseLocal(sqlite3_errmsg(db));
  return s;
}

void LigarTexto(sqlite3_stmt* s, int i, std::string_view texto) {
  sqlite3_bind_text(s, i, texto.data(), static_cast<int>(texto.size()), SQLITE_TRANSIENT);
}

std::string Coluna(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? reinterpret_cast<const char*>(t) : "";
}

void LerColuna(sqlite3_stmt* s, int i, std::int32_t& campo) { campo = sqlite3_column_int(s, i); }
void LerColuna(sqlite3_stmt* s, int i, std::string& campo) { campo = Coluna(s, i); }

// The columns of the current row, from the first, into the fields in order.
template <typename... Campos>
void LerLinha(sqlite3_stmt* s, Campos&... campos) {
  int i = 0;
  (LerColuna(s, i++, campos), ...);
}

}  // namespace

std::vector<std::string> SepararComandos(std::string_view script) {
  std::vector<std::string> comandos;
  std::size_t inicio = 0;
  std::size_t pos = 0;
  std::string candidato;
  auto guardar = [&](std::string_view peca) {
    for (char c : peca) {
      if (static_cast<unsigned char>(c) > ' ' && c != ';') {
        comandos.emplace_back(peca);
        return;
      }
    }
  };
  while ((pos = script.find(';', pos)) != std::string_view::npos) {
    candidato.assign(script.substr(inicio, pos + 1 - inicio));
    ++pos;
    // sqlite3_complete: the text ends a statement (the ';' is outside any literal or comment).
    if (sqlite3_complete(candidato.c_str())) {
      guardar(candidato);
      inicio = pos;
    }
  }
  guardar(script.substr(inicio));
  return comandos;
}

TBaseColetor::TBaseColetor(const std::string& arquivo) {
  if (sqlite3_open_v2(arquivo.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    const std::string msg = db_ ? sqlite3_errmsg(db_) : "sem memória";
    sqlite3_close(db_);
    db_ = nullptr;
    throw ErroBaseLocal("base local " + arquivo + ": " + msg);
  }
  Executar(kEsquema);
}

TBaseColetor::~TBaseColetor() { sqlite3_close(db_); }

void TBaseColetor::Executar(const std::string& sql) {
  char* erro = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &erro) != SQLITE_OK) {
    const std::string msg = erro ? erro : "erro";
    sqlite3_free(erro);
    throw ErroBaseLocal(msg);
  }
}

ResultadoScript TBaseColetor::Aplicar(std::string_view script) {
  ResultadoScript r;
  Executar("BEGIN");
  for (const std::string& c : SepararComandos(script)) {
    ++r.comandos;
    char* erro = nullptr;
    if (sqlite3_exec(db_, c.c_str(), nullptr, nullptr, &erro) != SQLITE_OK) {
      if (++r.falhos == 1) r.primeiro_erro = std::string(erro ? erro : "erro") + " em: " + c.substr(0, 300);
    }
    sqlite3_free(erro);
  }
  Executar("COMMIT");
  return r;
}

void TBaseColetor::LimparDownload() {
  Executar(
      "DELETE FROM TAB_PESQUISA_HEADER; DELETE FROM TAB_PESQUISA; DELETE FROM TAB_PRODUTO;"
      "DELETE FROM TAB_CODIGO_BARRA; DELETE FROM TAB_PRODUTO_PESQUISA; DELETE FROM TAB_USUARIO_COLETOR;");
}

std::optional<UsuarioColetor> TBaseColetor::Usuario(std::string_view nome) {
  Comando s = Preparar(db_,
                       "SELECT COD_USUARIO, COD_LOJA, DES_USUARIO, FLG_MULT_LOJA FROM TAB_USUARIO_COLETOR "
                       "WHERE DES_USUARIO = ?1 ORDER BY COD_USUARIO LIMIT 1");
  std::string maiusculo(nome);
  for (char& c : maiusculo) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  LigarTexto(s.get(), 1, maiusculo);
  if (sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
  UsuarioColetor u;
  LerLinha(s.get(), u.cod_usuario, u.cod_loja, u.des_usuario, u.flg_mult_loja);
  return u;
}

std::vector<std::int32_t> TBaseColetor::LojasDasPesquisas() {
  Comando s = Preparar(db_, "SELECT DISTINCT COD_LOJA FROM TAB_PESQUISA ORDER BY 1");
  std::vector<std::int32_t> lojas;
  while (sqlite3_step(s.get()) == SQLITE_ROW) lojas.push_back(sqlite3_column_int(s.get(), 0));
  return lojas;
}

std::int64_t TBaseColetor::PrecosForaDaLoja(std::int32_t loja) {
  Comando s = Preparar(db_,
                       "SELECT COUNT(*) FROM TAB_PRODUTO_PESQUISA X LEFT JOIN TAB_PESQUISA P "
                       "ON P.COD_PESQUISA_HEADER = X.COD_PESQUISA_HEADER AND P.COD_PESQUISA = X.COD_PESQUISA "
                       "WHERE P.COD_LOJA IS NULL OR P.COD_LOJA <> ?1");
  sqlite3_bind_int(s.get(), 1, loja);
  sqlite3_step(s.get());
  return sqlite3_column_int64(s.get(), 0);
}

std::vector<ItemColeta> TBaseColetor::Candidatos(std::optional<std::int32_t> loja, std::size_t maximo) {
  // Entries of running surveys crossed with the known products; an entry that already has a
  // price for the product, or a collected row for one of its bar codes, is left out.
  Comando s = Preparar(db_,
                       "SELECT P.COD_PESQUISA_HEADER, P.COD_PESQUISA, P.COD_LOJA, B.COD_PRODUTO, MIN(B.COD_EAN) "
                       "FROM TAB_PESQUISA P JOIN TAB_PESQUISA_HEADER H ON H.COD_PESQUISA_HEADER = P.COD_PESQUISA_HEADER "
                       "CROSS JOIN TAB_CODIGO_BARRA B "
                       "WHERE (?1 IS NULL OR P.COD_LOJA = ?1) AND NOT EXISTS ("
                       " SELECT 1 FROM TAB_PRODUTO_PESQUISA X WHERE X.COD_PESQUISA_HEADER = P.COD_PESQUISA_HEADER"
                       " AND X.COD_PESQUISA = P.COD_PESQUISA AND (X.COD_PRODUTO = B.COD_PRODUTO OR"
                       " X.COD_BARRA_COLETADO IN (SELECT COD_EAN FROM TAB_CODIGO_BARRA WHERE COD_PRODUTO = B.COD_PRODUTO))) "
                       "GROUP BY P.COD_PESQUISA_HEADER, P.COD_PESQUISA, P.COD_LOJA, B.COD_PRODUTO "
                       "ORDER BY P.COD_PESQUISA_HEADER, P.COD_PESQUISA, B.COD_PRODUTO LIMIT ?2");
  if (loja) sqlite3_bind_int(s.get(), 1, *loja);
  sqlite3_bind_int64(s.get(), 2, static_cast<sqlite3_int64>(maximo));
  std::vector<ItemColeta> itens;
  while (sqlite3_step(s.get()) == SQLITE_ROW) {
    ItemColeta i;
    LerLinha(s.get(), i.cod_pesquisa_header, i.cod_pesquisa, i.cod_loja, i.cod_produto, i.cod_ean);
    itens.push_back(std::move(i));
  }
  return itens;
}

void TBaseColetor::RegistrarColeta(const ItemColeta& item, double valor) {
  Comando s = Preparar(db_,
                       "INSERT INTO TAB_PRODUTO_PESQUISA (COD_PESQUISA_HEADER, COD_PESQUISA, VAL_PESQUISA, "
                       "DTA_PESQUISA, COD_BARRA_COLETADO, FLG_SINCRONIZADO) "
                       "VALUES (?1, ?2, ?3, datetime('now', 'localtime'), ?4, 'N')");
  sqlite3_bind_int(s.get(), 1, item.cod_pesquisa_header);
  sqlite3_bind_int(s.get(), 2, item.cod_pesquisa);
  sqlite3_bind_double(s.get(), 3, valor);
  LigarTexto(s.get(), 4, item.cod_ean);
  if (sqlite3_step(s.get()) != SQLITE_DONE) throw ErroBaseLocal(sqlite3_errmsg(db_));
}

std::optional<EstadoColeta> TBaseColetor::Coleta(std::int32_t header, std::int32_t pesquisa, std::string_view ean) {
  Comando s = Preparar(db_,
                       "SELECT COD_PRODUTO, FLG_SINCRONIZADO, FLG_NAO_EX_PESQ, FLG_NAO_EX_EAN, FLG_NAO_EX_PROD "
                       "FROM TAB_PRODUTO_PESQUISA WHERE COD_PESQUISA_HEADER = ?1 AND COD_PESQUISA = ?2 "
                       "AND COD_BARRA_COLETADO = ?3");
  sqlite3_bind_int(s.get(), 1, header);
  sqlite3_bind_int(s.get(), 2, pesquisa);
  LigarTexto(s.get(), 3, ean);
  if (sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
  EstadoColeta e;
  LerLinha(s.get(), e.cod_produto, e.flg_sincronizado, e.flg_nao_ex_pesq, e.flg_nao_ex_ean, e.flg_nao_ex_prod);
  return e;
}

std::int64_t TBaseColetor::Contar(std::string_view tabela) {
  const std::string sql = "SELECT COUNT(*) FROM " + std::string(tabela);
  Comando s = Preparar(db_, sql.c_str());
  sqlite3_step(s.get());
  return sqlite3_column_int64(s.get(), 0);
}

}  // namespace orv::sim
