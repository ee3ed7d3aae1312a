#include "service/script_coletor.h"

#include <algorithm>
#include <array>

#include "data/sql.h"
#include "util/datetime.h"
#include "util/utilities.h"

namespace orv::service {

std::vector<std::string> CondicaoData(std::int32_t tipo_banco) {
  return {"WHERE",
          tipo_banco == kTipoBancoSqlServer ? "CONVERT(CHAR(10), CURRENT_TIMESTAMP,110)" : "'NOW'",
          " BETWEEN TAB_PESQUISA_HEADER.DTA_INICIO AND TAB_PESQUISA_HEADER.DTA_TERMINO"};
}

std::vector<std::string> SqlSecao(Secao secao, std::int32_t tipo_banco,
                                  std::optional<std::int32_t> loja) {
  std::vector<std::string> l;
  const auto condicao = [&] {
    for (auto& s : CondicaoData(tipo_banco)) l.push_back(std::move(s));
  };
  const std::string codigo_loja = loja ? std::to_string(*loja) : std::string();
  switch (secao) {
    case Secao::kPesquisas:
      l = {"SELECT",
           " TAB_PESQUISA_HEADER.COD_PESQUISA_HEADER,",
           " TAB_PESQUISA_HEADER.DES_PESQUISA_HEADER,",
           " TAB_PESQUISA_HEADER.DTA_INICIO,",
           " TAB_PESQUISA_HEADER.DTA_TERMINO",
           "FROM",
           " TAB_PESQUISA_HEADER"};
      condicao();
      if (loja)
        l.push_back(
            " AND TAB_PESQUISA_HEADER.COD_PESQUISA_HEADER IN (SELECT COD_PESQUISA_HEADER FROM "
            "TAB_PESQUISA WHERE COD_LOJA = " +
            codigo_loja + " GROUP BY COD_PESQUISA_HEADER)");
      break;
    case Secao::kConcorrentes:
      l = {"SELECT",
           " TAB_PESQUISA.COD_PESQUISA,",
           " TAB_PESQUISA.COD_PESQUISA_HEADER,",
           " TAB_PESQUISA.COD_LOJA,",
           " TAB_PESQUISA.DES_PESQUISA",
           "FROM",
           " TAB_PESQUISA",
           "INNER JOIN TAB_PESQUISA_HEADER ON",
           " TAB_PESQUISA.COD_PESQUISA_HEADER = TAB_PESQUISA_HEADER.COD_PESQUISA_HEADER"};
      condicao();
      if (loja) l.push_back(" AND COD_LOJA = " + codigo_loja);
      break;
    case Secao::kProdutos:
      l = {"SELECT",
           " TAB_PRODUTO.COD_PRODUTO,",
           " TAB_PRODUTO.DES_PRODUTO",
           "FROM",
           " TAB_PRODUTO",
           "INNER JOIN TAB_PRODUTO_PESQUISA ON",
           " TAB_PRODUTO.COD_PRODUTO = TAB_PRODUTO_PESQUISA.COD_PRODUTO"};
      if (loja) l.push_back(" AND TAB_PRODUTO_PESQUISA.COD_LOJA = " + codigo_loja);
      l.push_back("INNER JOIN TAB_PESQUISA_HEADER ON");
      l.push_back(" TAB_PRODUTO_PESQUISA.COD_PESQUISA_HEADER = TAB_PESQUISA_HEADER.COD_PESQUISA_HEADER");
      condicao();
      l.push_back("GROUP BY");
      l.push_back(" TAB_PRODUTO.COD_PRODUTO, TAB_PRODUTO.DES_PRODUTO");
      break;
    case Secao::kCodigosBarra:
      l = {"SELECT",
           " TAB_CODIGO_BARRA.COD_PRODUTO,",
           " TAB_CODIGO_BARRA.COD_EAN",
           "FROM",
           " TAB_CODIGO_BARRA",
           "INNER JOIN TAB_PRODUTO_PESQUISA ON",
           " TAB_CODIGO_BARRA.COD_PRODUTO = TAB_PRODUTO_PESQUISA.COD_PRODUTO"};
      if (loja) l.push_back(" AND TAB_PRODUTO_PESQUISA.COD_LOJA = " + codigo_loja);
      l.push_back("INNER JOIN TAB_PESQUISA_HEADER ON");
      l.push_back(" TAB_PRODUTO_PESQUISA.COD_PESQUISA_HEADER = TAB_PESQUISA_HEADER.COD_PESQUISA_HEADER");
      condicao();
      l.push_back("GROUP BY");
      l.push_back(" TAB_CODIGO_BARRA.COD_PRODUTO, TAB_CODIGO_BARRA.COD_EAN");
      break;
    case Secao::kPrecos:
      l = {"SELECT",
           " TAB_PRODUTO_PESQUISA.COD_PRODUTO,",
           " TAB_PRODUTO_PESQUISA.COD_PESQUISA,",
           " TAB_PRODUTO_PESQUISA.COD_PESQUISA_HEADER,",
           " TAB_PRODUTO_PESQUISA.VAL_PESQUISA,",
           " TAB_PRODUTO_PESQUISA.DTA_PESQUISA",
           "FROM",
           " TAB_PRODUTO_PESQUISA",
           "INNER JOIN TAB_PESQUISA_HEADER ON",
           " TAB_PRODUTO_PESQUISA.COD_PESQUISA_HEADER = TAB_PESQUISA_HEADER.COD_PESQUISA_HEADER"};
      condicao();
      if (loja) l.push_back(" AND TAB_PRODUTO_PESQUISA.COD_LOJA = " + codigo_loja);
      break;
    case Secao::kUsuarios:
      l = {"SELECT",
           " TAB_USUARIO.COD_USUARIO,",
           " TAB_USUARIO.COD_LOJA,",
           " UPPER(UCS_USERS.USER_NAME) AS DES_USUARIO,",
           " UCS_USERS.USER_PWD AS DES_SENHA,",
           " TAB_USUARIO.FLG_MULT_LOJA",
           "FROM",
           " UCS_USERS",
           "INNER JOIN TAB_USUARIO ON",
           " CAST(UCS_USERS.USER_ID AS SMALLINT) = TAB_USUARIO.COD_USUARIO",
           "WHERE",
           " TAB_USUARIO.FLG_COLE_WIFI = 'S'"};
      break;
  }
  return l;
}

void AppendLiteral(std::string& out, std::string_view value) {
  out += '\'';
  for (;;) {
    const auto pos = value.find('\'');
    if (pos == std::string_view::npos) break;
    out.append(value.data(), pos + 1);
    out += '\'';
    value.remove_prefix(pos + 1);
  }
  out.append(value);
  out += '\'';
}

std::string Literal(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  AppendLiteral(out, value);
  return out;
}

void TScriptBuilder::Append(std::string_view text) {
  if (blocos_.empty() || (blocos_.back().size() + text.size() > kTamanhoBloco &&
                          !blocos_.back().empty())) {
    blocos_.emplace_back();
    blocos_.back().reserve(std::max(kTamanhoBloco, text.size()));
  }
  blocos_.back().append(text);
  size_ += text.size();
}

std::vector<std::string> TScriptBuilder::TakeParts() {
  std::vector<std::string> parts = std::move(blocos_);
  blocos_.clear();
  size_ = 0;
  return parts;
}

std::string TScriptBuilder::Take() { return JuntarPartes(TakeParts()); }

std::string JuntarPartes(std::vector<std::string> partes) {
  std::size_t tamanho = 0;
  for (const std::string& p : partes) tamanho += p.size();
  std::string out;
  out.reserve(tamanho);
  for (std::string& p : partes) {
    out += p;
    std::string().swap(p);  // give the piece's memory back at once
  }
  return out;
}

namespace {

void AppendData(std::string& out, const data::SqlQuery& q, std::string_view coluna) {
  // A date never holds an apostrophe; written between apostrophes as it is.
  out += '\'';
  out += util::FormatarDataHora(kFormatoDataColetor, q.FieldAsDateTime(coluna));
  out += '\'';
}

}  // namespace

void AppendInicioSecao(std::string& out, Secao secao) {
  if (secao == Secao::kUsuarios) out += "DELETE FROM TAB_USUARIO_COLETOR;";
}

namespace {

// How a column's value is written into its statement.
enum class Valor {
  kNumero,   // as the database gives it
  kTexto,    // a literal between apostrophes
  kSenha,    // the password, ciphered, as a literal
  kData,     // the collector's date format, between apostrophes
  kPreco,    // decimal point, NULL when not yet collected
};

struct Coluna {
  std::string_view nome;
  Valor valor;
  std::string_view antes = ", ";   // what separates it from the column before
};

// The statement of each section's rows: its text up to "VALUES (", then its columns.
struct ModeloLinha {
  std::string_view inicio;
  std::array<Coluna, 5> colunas;
  std::size_t quantas;
};

constexpr ModeloLinha kModelos[] = {
    // Secao::kPesquisas
    {"INSERT OR REPLACE INTO TAB_PESQUISA_HEADER (COD_PESQUISA_HEADER, DES_PESQUISA_HEADER, "
     "DTA_INICIO, DTA_TERMINO) VALUES (",
     {{{"COD_PESQUISA_HEADER", Valor::kNumero, ""},
       {"DES_PESQUISA_HEADER", Valor::kTexto},
       {"DTA_INICIO", Valor::kData},
       {"DTA_TERMINO", Valor::kData}}},
     4},
    // Secao::kConcorrentes
    {"INSERT OR REPLACE INTO TAB_PESQUISA (COD_PESQUISA, COD_PESQUISA_HEADER, COD_LOJA, "
     "DES_PESQUISA) VALUES (",
     {{{"COD_PESQUISA", Valor::kNumero, ""},
       {"COD_PESQUISA_HEADER", Valor::kNumero},
       {"COD_LOJA", Valor::kNumero},
       {"DES_PESQUISA", Valor::kTexto}}},
     4},
    // Secao::kProdutos
    {"INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES (",
     {{{"COD_PRODUTO", Valor::kTexto, ""}, {"DES_PRODUTO", Valor::kTexto}}},
     2},
    // Secao::kCodigosBarra
    {"INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES (",
     {{{"COD_PRODUTO", Valor::kTexto, ""}, {"COD_EAN", Valor::kTexto}}},
     2},
    // Secao::kPrecos
    {"INSERT OR REPLACE INTO TAB_PRODUTO_PESQUISA (COD_PRODUTO, COD_PESQUISA, "
     "COD_PESQUISA_HEADER, VAL_PESQUISA, DTA_PESQUISA) VALUES (",
     {{{"COD_PRODUTO", Valor::kTexto, ""},
       {"COD_PESQUISA", Valor::kNumero},
       {"COD_PESQUISA_HEADER", Valor::kNumero},
       {"VAL_PESQUISA", Valor::kPreco},
       {"DTA_PESQUISA", Valor::kData}}},
     5},
    // Secao::kUsuarios
    {"INSERT INTO TAB_USUARIO_COLETOR (COD_USUARIO, COD_LOJA, DES_USUARIO, DES_SENHA, "
     "FLG_MULT_LOJA) VALUES (",
     {{{"COD_USUARIO", Valor::kNumero, ""},
       {"COD_LOJA", Valor::kNumero},
       {"DES_USUARIO", Valor::kTexto},
       {"DES_SENHA", Valor::kSenha},
       {"FLG_MULT_LOJA", Valor::kTexto, ","}}},
     5},
};

static_assert(std::size(kModelos) == std::size(kSecoesCompletas), "one row model per section");

void AppendValor(std::string& out, const Coluna& c, const data::SqlQuery& q) {
  switch (c.valor) {
    case Valor::kNumero:
      out += q.FieldAsString(c.nome);
      break;
    case Valor::kTexto:
      AppendLiteral(out, q.FieldAsString(c.nome));
      break;
    case Valor::kSenha:
      AppendLiteral(out, util::CifrarTexto(q.FieldAsString(c.nome)));
      break;
    case Valor::kData:
      AppendData(out, q, c.nome);
      break;
    case Valor::kPreco: {
      std::string valor = q.FieldAsString(c.nome);
      std::replace(valor.begin(), valor.end(), ',', '.');
      // A price row not yet collected has no value; an empty value would break the statement.
      out += valor.empty() ? std::string_view("NULL") : std::string_view(valor);
      break;
    }
  }
}

}  // namespace

void AppendLinha(std::string& out, Secao secao, const data::SqlQuery& q) {
  const ModeloLinha& m = kModelos[static_cast<std::size_t>(secao)];
  out += m.inicio;
  for (std::size_t i = 0; i < m.quantas; ++i) {
    out += m.colunas[i].antes;
    AppendValor(out, m.colunas[i], q);
  }
  out += ");";
}

}  // namespace orv::service
