// The catalog generator: sizes as asked, one to three valid bar codes per product, prices on
// distinct keys in running surveys, the same catalog for the same seed, and a real load.
#include "catalog/catalog.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "support/temp_folder.h"
#include "data/test_db.h"

namespace orv::catalog {
namespace {

CatalogOptions Options(int products, int barcodes, int prices) {
  CatalogOptions o;
  o.seed = 42;
  o.products = products;
  o.barcodes = barcodes;
  o.prices = prices;
  o.past_prices = 30;
  o.today = util::EncodeDateTime({2024, 6, 15});
  return o;
}

TEST(GenerateCatalog, SizesBarCodesAndPriceKeys) {
  const CatalogOptions o = Options(500, 1000, 700);
  const Catalog c = GenerateCatalog(o);
  EXPECT_EQ(c.produtos.size(), 500u);
  EXPECT_EQ(c.codigos_barra.size(), 1000u);
  EXPECT_EQ(c.precos.size(), 730u);
  EXPECT_EQ(c.usuarios.size(), 10u);
  EXPECT_EQ(c.headers.size(), 4u);
  EXPECT_EQ(c.pesquisas.size(), 16u);

  std::map<std::string, int> per_product;
  std::set<std::string> eans;
  for (const auto& b : c.codigos_barra) {
    ++per_product[b[0]];
    EXPECT_TRUE(ValidEan(b[1])) << b[1];
    EXPECT_TRUE(eans.insert(b[1]).second) << "repeated " << b[1];
  }
  EXPECT_EQ(per_product.size(), 500u);
  for (const auto& [p, n] : per_product) EXPECT_TRUE(n >= 1 && n <= 3) << p << ": " << n;

  std::set<std::string> running;  // headers whose period holds 2024-06-15
  for (const auto& h : c.headers)
    if (h[2] <= "2024-06-15" && h[3] >= "2024-06-15") running.insert(h[0]);
  EXPECT_EQ(running.size(), 2u);
  std::set<std::string> keys, priced_in_running;
  int in_running = 0;
  for (const auto& p : c.precos) {
    EXPECT_TRUE(keys.insert(p[0] + "/" + p[1] + "/" + p[2] + "/" + p[3]).second);
    if (running.count(p[0])) {
      ++in_running;
      priced_in_running.insert(p[3]);
    }
  }
  EXPECT_EQ(in_running, 700);
  EXPECT_EQ(priced_in_running.size(), 500u);  // every product is in a running survey
}

TEST(GenerateCatalog, SameSeedSameCatalogOtherSeedOther) {
  CatalogOptions o = Options(100, 150, 120);
  const Catalog a = GenerateCatalog(o);
  const Catalog b = GenerateCatalog(o);
  EXPECT_EQ(a.produtos, b.produtos);
  EXPECT_EQ(a.codigos_barra, b.codigos_barra);
  EXPECT_EQ(a.precos, b.precos);
  EXPECT_EQ(a.usuarios, b.usuarios);
  o.seed = 43;
  EXPECT_NE(GenerateCatalog(o).codigos_barra, a.codigos_barra);
}

TEST(GenerateCatalog, RejectsImpossibleSizes) {
  EXPECT_THROW(GenerateCatalog(Options(10, 9, 5)), std::invalid_argument);   // < 1 per product
  EXPECT_THROW(GenerateCatalog(Options(10, 31, 5)), std::invalid_argument);  // > 3 per product
  EXPECT_THROW(GenerateCatalog(Options(10, 10, 81)), std::invalid_argument); // > 2 x 4 x 10 keys
  EXPECT_THROW(GenerateCatalog(Options(0, 0, 0)), std::invalid_argument);
}

TEST(ValidEan, CheckDigit) {
  EXPECT_TRUE(ValidEan("7891234567895"));
  EXPECT_FALSE(ValidEan("7891234567894"));
  EXPECT_FALSE(ValidEan("78912345678a5"));
  EXPECT_FALSE(ValidEan("1234"));
}

TEST(LoadCatalog, FillsAFreshDatabase) {
  testing::TempFolder folder;
  const std::string db = data::testdb::CreateTestDatabase(folder.path(), false);
  CatalogOptions o = Options(300, 450, 400);
  o.today = 0;  // running surveys around the real today, as 'NOW' sees it
  const Catalog c = GenerateCatalog(o);
  auto scn = data::testdb::FirebirdConnection(db);
  LoadCatalog(*scn, c);
  data::SqlQuery q(*scn);
  q.SetSql({"SELECT",
            " (SELECT COUNT(*) FROM TAB_PRODUTO) AS P,",
            " (SELECT COUNT(*) FROM TAB_CODIGO_BARRA) AS B,",
            " (SELECT COUNT(*) FROM TAB_PRODUTO_PESQUISA PP JOIN TAB_PESQUISA_HEADER H",
            "   ON H.COD_PESQUISA_HEADER = PP.COD_PESQUISA_HEADER",
            "   WHERE 'NOW' BETWEEN H.DTA_INICIO AND H.DTA_TERMINO) AS R,",
            " (SELECT COUNT(*) FROM UCS_USERS U JOIN TAB_USUARIO T",
            "   ON CAST(U.USER_ID AS SMALLINT) = T.COD_USUARIO) AS U",
            "FROM RDB$DATABASE"});
  q.Open();
  EXPECT_EQ(q.FieldAsInteger("P"), 300);
  EXPECT_EQ(q.FieldAsInteger("B"), 450);
  EXPECT_EQ(q.FieldAsInteger("R"), 400);
  EXPECT_EQ(q.FieldAsInteger("U"), 10);
}

}  // namespace
}  // namespace orv::catalog
