// The pieces of the collector service that need no database: the download queries, the SQL
// literals, the password rule and the session table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/cds_auth.h"
#include "service/orvws.h"
#include "service/script_coletor.h"
#include "util/regional.h"
#include "util/text.h"

namespace {

using orv::service::Secao;
using orv::service::SqlSecao;

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

TEST(SqlSecao, DateConditionFollowsTheDatabaseKind) {
  struct Case {
    std::int32_t tipo;
    const char* momento;
  } cases[] = {{0, "'NOW'"},
               {1, "'NOW'"},
               {2, "CONVERT(CHAR(10), CURRENT_TIMESTAMP,110)"},
               {3, "'NOW'"},
               {7, "'NOW'"}};
  for (const auto& c : cases) {
    for (Secao s : {Secao::kPesquisas, Secao::kConcorrentes, Secao::kProdutos,
                    Secao::kCodigosBarra, Secao::kPrecos}) {
      const auto lines = SqlSecao(s, c.tipo, std::nullopt);
      const std::string text = Joined(lines);
      EXPECT_NE(text.find("WHERE\n" + std::string(c.momento) +
                          "\n BETWEEN TAB_PESQUISA_HEADER.DTA_INICIO AND "
                          "TAB_PESQUISA_HEADER.DTA_TERMINO\n"),
                std::string::npos)
          << c.tipo << "\n"
          << text;
    }
  }
  // The users section has neither a date condition nor a store filter.
  const std::string usuarios = Joined(SqlSecao(Secao::kUsuarios, 2, 12));
  EXPECT_EQ(usuarios.find("BETWEEN"), std::string::npos);
  EXPECT_EQ(usuarios.find("COD_LOJA ="), std::string::npos);
}

TEST(SqlSecao, StoreFilterGoesWhereEachSectionNeedsIt) {
  // Full texts of two sections on SQL Server with the filter, and where the others put it.
  EXPECT_EQ(SqlSecao(Secao::kConcorrentes, 2, 12),
            (std::vector<std::string>{
                "SELECT", " TAB_PESQUISA.COD_PESQUISA,", " TAB_PESQUISA.COD_PESQUISA_HEADER,",
                " TAB_PESQUISA.COD_LOJA,", " TAB_PESQUISA.DES_PESQUISA", "FROM", " TAB_PESQUISA",
                "INNER JOIN TAB_PESQUISA_HEADER ON",
                " TAB_PESQUISA.COD_PESQUISA_HEADER = TAB_PESQUISA_HEADER.COD_PESQUISA_HEADER",
                "WHERE", "CONVERT(CHAR(10), CURRENT_TIMESTAMP,110)",
                " BETWEEN TAB_PESQUISA_HEADER.DTA_INICIO AND TAB_PESQUISA_HEADER.DTA_TERMINO",
                " AND COD_LOJA = 12"}));
  EXPECT_EQ(SqlSecao(Secao::kProdutos, 0, 12),
            (std::vector<std::string>{
                "SELECT", " TAB_PRODUTO.COD_PRODUTO,", " TAB_PRODUTO.DES_PRODUTO", "FROM",
                " TAB_PRODUTO", "INNER JOIN TAB_PRODUTO_PESQUISA ON",
                " TAB_PRODUTO.COD_PRODUTO = TAB_PRODUTO_PESQUISA.COD_PRODUTO",
                " AND TAB_PRODUTO_PESQUISA.COD_LOJA = 12", "INNER JOIN TAB_PESQUISA_HEADER ON",
                " TAB_PRODUTO_PESQUISA.COD_PESQUISA_HEADER = "
                "TAB_PESQUISA_HEADER.COD_PESQUISA_HEADER",
                "WHERE", "'NOW'",
                " BETWEEN TAB_PESQUISA_HEADER.DTA_INICIO AND TAB_PESQUISA_HEADER.DTA_TERMINO",
                "GROUP BY", " TAB_PRODUTO.COD_PRODUTO, TAB_PRODUTO.DES_PRODUTO"}));

  struct Case {
    Secao secao;
    std::size_t line;  // index of the filter line
    const char* text;
  } cases[] = {
      {Secao::kPesquisas, 10,
       " AND TAB_PESQUISA_HEADER.COD_PESQUISA_HEADER IN (SELECT COD_PESQUISA_HEADER FROM "
       "TAB_PESQUISA WHERE COD_LOJA = 12 GROUP BY COD_PESQUISA_HEADER)"},
      {Secao::kCodigosBarra, 7, " AND TAB_PRODUTO_PESQUISA.COD_LOJA = 12"},
      {Secao::kPrecos, 13, " AND TAB_PRODUTO_PESQUISA.COD_LOJA = 12"},
  };
  for (const auto& c : cases) {
    const auto with = SqlSecao(c.secao, 0, 12);
    const auto without = SqlSecao(c.secao, 0, std::nullopt);
    ASSERT_EQ(with.size(), without.size() + 1);
    EXPECT_EQ(with.at(c.line), c.text);
    auto rest = with;
    rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(c.line));
    EXPECT_EQ(rest, without);
  }
  // A negative store code is written as its decimal text.
  EXPECT_EQ(SqlSecao(Secao::kConcorrentes, 0, -3).back(), " AND COD_LOJA = -3");
}

TEST(Literal, ApostrophesAreDoubled) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"", "''"},
      {"ARROZ 5KG", "'ARROZ 5KG'"},
      {"D'ORO", "'D''ORO'"},
      {"'", "''''"},
      {"a''b", "'a''''b'"},
      {"'; DROP TABLE X; --", "'''; DROP TABLE X; --'"},
      {"Açúcar", "'Açúcar'"},
  };
  for (const auto& c : cases) EXPECT_EQ(orv::service::Literal(c.in), c.out) << c.in;
}

TEST(SenhaDoUsuario, NamesShorterThanSixAreTrimmedAndFilled) {
  const std::string f(orv::service::kPreenchimentoSenha);
  struct Case {
    std::string nome, senha;
  } cases[] = {
      {"coletor1", "coletor1"},
      {"ABCDEF", "ABCDEF"},
      {"  abcd", "  abcd"},            // 6 characters as sent: its own password, untrimmed
      {"ABCDE", "ABCDE" + f},
      {"ANA", "ANA" + f + f + f},
      {"  ana", "ana" + f + f + f},     // trimmed before filling
      {"", f + f + f + f + f + f},
      {"Zoë", "Zoë" + f + f + f},     // counted in characters, not bytes
  };
  for (const auto& c : cases) EXPECT_EQ(orv::service::SenhaDoUsuario(c.nome), c.senha) << c.nome;
}

TEST(CdsAuth, RowsAreFoundByTheWholeAddressAndKeepTheFullUserName) {
  const auto saved = orv::util::Regional();
  orv::util::SetRegional(orv::util::RegionalPtBR());
  orv::service::TCdsAuth t;
  const std::string longo = "usuario_com_um_nome_bem_maior_que_trinta_caracteres";
  orv::service::TSessao s;
  s.IpCompleto = "10.0.0.1";
  s.UsuarioCompleto = longo;
  s.FLG_MULT_LOJA = "NS";
  t.Gravar(s);
  s.IpCompleto = "10.0.0.10";
  s.UsuarioCompleto = "łukasz";
  t.Gravar(s);

  auto a = t.Localizar("10.0.0.1");
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(a->DES_IP, "10.0.0.1");
  EXPECT_EQ(a->DES_USUARIO, longo.substr(0, 30));
  EXPECT_EQ(a->UsuarioCompleto, longo);
  EXPECT_EQ(a->FLG_MULT_LOJA, "N");
  EXPECT_EQ(t.Localizar("10.0.0.10")->DES_USUARIO, "?ukasz");
  EXPECT_EQ(t.Localizar("10.0.0.10")->UsuarioCompleto, "łukasz");
  for (const char* ip : {"10.0.0", "10.0.0.1 ", "", "10.0.0.100"})
    EXPECT_FALSE(t.Localizar(ip).has_value()) << ip;

  // Storing again for an address replaces its row.
  s.IpCompleto = "10.0.0.1";
  s.UsuarioCompleto = "outro";
  t.Gravar(s);
  EXPECT_EQ(t.RecordCount(), 2u);
  EXPECT_EQ(t.Localizar("10.0.0.1")->UsuarioCompleto, "outro");

  EXPECT_TRUE(t.Excluir("10.0.0.1"));
  EXPECT_FALSE(t.Excluir("10.0.0.1"));
  t.EmptyDataSet();
  EXPECT_EQ(t.RecordCount(), 0u);
  orv::util::SetRegional(saved);
}

}  // namespace

namespace {

TEST(TScriptBuilder, JoinsBlocksInOrder) {
  using orv::service::TScriptBuilder;
  TScriptBuilder vazio;
  EXPECT_EQ(vazio.Take(), "");

  TScriptBuilder b;
  std::string esperado;
  const std::size_t bloco = TScriptBuilder::kTamanhoBloco;
  // Pieces that end exactly at, just past and far past a block's end, and an empty one.
  const std::vector<std::string> pecas = {
      std::string(bloco - 3, 'a'), "xyz", "", "1", std::string(bloco + 10, 'b'),
      std::string(7, 'c'), std::string(bloco, 'd')};
  for (const auto& p : pecas) {
    b.Append(p);
    esperado += p;
    EXPECT_EQ(b.Size(), esperado.size());
  }
  const std::string s = b.Take();
  EXPECT_EQ(s, esperado);
  EXPECT_EQ(b.Size(), 0u);
  EXPECT_EQ(b.Take(), "");
}

}  // namespace
