// The handheld's local store: splitting scripts, applying downloads and answers, choosing what
// to collect.
#include <gtest/gtest.h>

#include "base_coletor.h"

namespace orv::sim {
namespace {

TEST(SimScript, SplitsWhereSqliteEndsAStatement) {
  struct Caso {
    const char* script;
    std::vector<std::string> comandos;
  };
  const Caso casos[] = {
      {"A;B;", {"A;", "B;"}},
      {"INSERT INTO T VALUES ('x;y');C;", {"INSERT INTO T VALUES ('x;y');", "C;"}},
      {"INSERT INTO T VALUES ('D''Ajuda;');", {"INSERT INTO T VALUES ('D''Ajuda;');"}},
      {"A; ;\r\n;B", {"A;", "B"}},
      {"", {}},
      {"  ", {}},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(SepararComandos(c.script), c.comandos);
  }
}

// A download as the service writes it: a running survey with entries of two stores, two
// products, a price already collected, the users allowed to collect.
constexpr const char* kDownload =
    "INSERT OR REPLACE INTO TAB_PESQUISA_HEADER (COD_PESQUISA_HEADER, DES_PESQUISA_HEADER, DTA_INICIO, DTA_TERMINO) "
    "VALUES (8, 'Semana atual', '2000-01-01 00:00:00', '2099-12-31 00:00:00');"
    "INSERT OR REPLACE INTO TAB_PESQUISA (COD_PESQUISA, COD_PESQUISA_HEADER, COD_LOJA, DES_PESQUISA) VALUES "
    "(1, 8, 1, 'Atacadão Central');"
    "INSERT OR REPLACE INTO TAB_PESQUISA (COD_PESQUISA, COD_PESQUISA_HEADER, COD_LOJA, DES_PESQUISA) VALUES "
    "(2, 8, 12, 'Empório D''Ajuda; filial');"
    "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES ('123', 'ARROZ 5KG');"
    "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES ('126', 'LEITE INTEGRAL 1L');"
    "INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES ('123', '7891234567895');"
    "INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES ('126', '7891000100103');"
    "INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES ('126', '17891000100100');"
    "INSERT OR REPLACE INTO TAB_PRODUTO_PESQUISA (COD_PRODUTO, COD_PESQUISA, COD_PESQUISA_HEADER, VAL_PESQUISA, "
    "DTA_PESQUISA) VALUES ('126', 1, 8, 4.29, '2024-03-04 09:20:30');"
    "DELETE FROM TAB_USUARIO_COLETOR;"
    "INSERT INTO TAB_USUARIO_COLETOR (COD_USUARIO, COD_LOJA, DES_USUARIO, DES_SENHA, FLG_MULT_LOJA) VALUES "
    "(3, 1, 'ANA', 'x''y','N');";

TEST(SimBase, AppliesADownloadAndOffersWhatIsNotCollectedYet) {
  TBaseColetor b;
  const ResultadoScript r = b.Aplicar(kDownload);
  EXPECT_EQ(r.comandos, 11);
  EXPECT_EQ(r.falhos, 0) << r.primeiro_erro;
  EXPECT_EQ(b.Contar("TAB_PESQUISA"), 2);
  const auto u = b.Usuario("ana");
  ASSERT_TRUE(u.has_value());
  EXPECT_EQ(u->cod_loja, 1);
  EXPECT_EQ(u->flg_mult_loja, "N");
  EXPECT_FALSE(b.Usuario("bruno").has_value());
  EXPECT_EQ(b.LojasDasPesquisas(), (std::vector<std::int32_t>{1, 12}));
  EXPECT_EQ(b.PrecosForaDaLoja(1), 0);
  EXPECT_EQ(b.PrecosForaDaLoja(12), 1);

  // Store 1's entry already has product 126: only 123 is left; store 12 may collect both.
  const auto loja1 = b.Candidatos(1, 10);
  ASSERT_EQ(loja1.size(), 1u);
  EXPECT_EQ(loja1[0].cod_produto, "123");
  EXPECT_EQ(loja1[0].cod_ean, "7891234567895");
  EXPECT_EQ(b.Candidatos(12, 10).size(), 2u);
  EXPECT_EQ(b.Candidatos(std::nullopt, 10).size(), 3u);
  EXPECT_EQ(b.Candidatos(std::nullopt, 2).size(), 2u);

  // A price read on the shelf waits for the service's answer, then is synchronised by it.
  b.RegistrarColeta(loja1[0], 5.49);
  EXPECT_TRUE(b.Candidatos(1, 10).empty());
  EXPECT_EQ(b.Coleta(8, 1, "7891234567895")->flg_sincronizado, "N");
  const ResultadoScript resposta = b.Aplicar(
      "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES ('123', 'ARROZ 5KG');"
      "INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES ('123', '7891234567895');"
      "UPDATE TAB_PRODUTO_PESQUISA SET COD_PRODUTO = '123',  FLG_SINCRONIZADO = 'S',  FLG_NAO_EX_PESQ = 'N',  "
      "FLG_NAO_EX_EAN = 'N',  FLG_NAO_EX_PROD = 'N' WHERE COD_BARRA_COLETADO = '7891234567895' AND "
      "COD_PESQUISA_HEADER = 8 AND COD_PESQUISA = 1;");
  EXPECT_EQ(resposta.falhos, 0) << resposta.primeiro_erro;
  const auto e = b.Coleta(8, 1, "7891234567895");
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->cod_produto, "123");
  EXPECT_EQ(e->flg_sincronizado, "S");

  // A new download replaces the old one entirely.
  b.LimparDownload();
  EXPECT_EQ(b.Contar("TAB_PRODUTO_PESQUISA"), 0);
  EXPECT_EQ(b.Aplicar(kDownload).falhos, 0);
  EXPECT_EQ(b.Contar("TAB_PRODUTO_PESQUISA"), 1);
}

TEST(SimBase, ABrokenStatementIsCountedAndTheRestStillApplied) {
  TBaseColetor b;
  // A price without a value written as nothing between the commas is no SQL.
  const ResultadoScript r = b.Aplicar(
      "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES ('127', 'AÇÚCAR');"
      "INSERT OR REPLACE INTO TAB_PRODUTO_PESQUISA (COD_PRODUTO, COD_PESQUISA, COD_PESQUISA_HEADER, VAL_PESQUISA, "
      "DTA_PESQUISA) VALUES ('127', 3, 8, , '1899-12-30 00:00:00');"
      "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES ('128', 'SAL');");
  EXPECT_EQ(r.comandos, 3);
  EXPECT_EQ(r.falhos, 1);
  EXPECT_NE(r.primeiro_erro.find("VALUES ('127', 3, 8, ,"), std::string::npos) << r.primeiro_erro;
  EXPECT_EQ(b.Contar("TAB_PRODUTO"), 2);
}

}  // namespace
}  // namespace orv::sim
