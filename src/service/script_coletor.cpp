#include "service/script_coletor.h"

#include <algorithm>

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

std::string TScriptBuilder::Take() {
  std::string out;
  out.reserve(size_);
  for (std::string& b : blocos_) {
    out += b;
    std::string().swap(b);  // give the block's memory back at once
  }
  blocos_.clear();
  size_ = 0;
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

void AppendLinha(std::string& out, Secao secao, const data::SqlQuery& q) {
  switch (secao) {
    case Secao::kPesquisas:
      out += "INSERT OR REPLACE INTO TAB_PESQUISA_HEADER (COD_PESQUISA_HEADER, DES_PESQUISA_HEADER, "
             "DTA_INICIO, DTA_TERMINO) VALUES (";
      out += q.FieldAsString("COD_PESQUISA_HEADER");
      out += ", ";
      AppendLiteral(out, q.FieldAsString("DES_PESQUISA_HEADER"));
      out += ", ";
      AppendData(out, q, "DTA_INICIO");
      out += ", ";
      AppendData(out, q, "DTA_TERMINO");
      out += ");";
      break;
    case Secao::kConcorrentes:
      out += "INSERT OR REPLACE INTO TAB_PESQUISA (COD_PESQUISA, COD_PESQUISA_HEADER, COD_LOJA, "
             "DES_PESQUISA) VALUES (";
      out += q.FieldAsString("COD_PESQUISA");
      out += ", ";
      out += q.FieldAsString("COD_PESQUISA_HEADER");
      out += ", ";
      out += q.FieldAsString("COD_LOJA");
      out += ", ";
      AppendLiteral(out, q.FieldAsString("DES_PESQUISA"));
      out += ");";
      break;
    case Secao::kProdutos:
      out += "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES (";
      AppendLiteral(out, q.FieldAsString("COD_PRODUTO"));
      out += ", ";
      AppendLiteral(out, q.FieldAsString("DES_PRODUTO"));
      out += ");";
      break;
    case Secao::kCodigosBarra:
      out += "INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES (";
      AppendLiteral(out, q.FieldAsString("COD_PRODUTO"));
      out += ", ";
      AppendLiteral(out, q.FieldAsString("COD_EAN"));
      out += ");";
      break;
    case Secao::kPrecos: {
      out += "INSERT OR REPLACE INTO TAB_PRODUTO_PESQUISA (COD_PRODUTO, COD_PESQUISA, "
             "COD_PESQUISA_HEADER, VAL_PESQUISA, DTA_PESQUISA) VALUES (";
      AppendLiteral(out, q.FieldAsString("COD_PRODUTO"));
      out += ", ";
      out += q.FieldAsString("COD_PESQUISA");
      out += ", ";
      out += q.FieldAsString("COD_PESQUISA_HEADER");
      out += ", ";
      std::string valor = q.FieldAsString("VAL_PESQUISA");
      std::replace(valor.begin(), valor.end(), ',', '.');
      // A price row not yet collected has no value; an empty value would break the statement.
      out += valor.empty() ? std::string("NULL") : valor;
      out += ", ";
      AppendData(out, q, "DTA_PESQUISA");
      out += ");";
      break;
    }
    case Secao::kUsuarios:
      out += "INSERT INTO TAB_USUARIO_COLETOR (COD_USUARIO, COD_LOJA, DES_USUARIO, DES_SENHA, "
             "FLG_MULT_LOJA) VALUES (";
      out += q.FieldAsString("COD_USUARIO");
      out += ", ";
      out += q.FieldAsString("COD_LOJA");
      out += ", ";
      AppendLiteral(out, q.FieldAsString("DES_USUARIO"));
      out += ", ";
      AppendLiteral(out, util::CifrarTexto(q.FieldAsString("DES_SENHA")));
      out += ",";
      AppendLiteral(out, q.FieldAsString("FLG_MULT_LOJA"));
      out += ");";
      break;
  }
}

}  // namespace orv::service
