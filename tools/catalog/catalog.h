// The catalog generator behind orvws-catalog: a realistic management database of a chosen
// size (surveys running now and past, their entries per store, products with one to three bar
// codes each, collected prices, users allowed to collect with their login rows), the same for
// the same seed and day, loaded in batches of rows per transaction.
//
// Thread safety: GenerateCatalog is pure; LoadCatalog uses the connection given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/sql.h"
#include "util/datetime.h"

namespace orv::catalog {

struct CatalogOptions {
  std::uint64_t seed = 1;
  int products = 200;
  int barcodes = 0;        // total bar codes; 0: about 1.6 per product
  int prices = 300;        // collected prices in the running surveys
  int past_prices = -1;    // collected prices in past surveys; -1: a fifth of `prices`
  int stores = 5;
  int running_surveys = 2;
  int past_surveys = 2;
  int entries = 4;         // competitor entries per survey, spread over the stores
  int users = 10;
  util::TDateTime today = 0;  // the day the running surveys include; 0: today
};

// The rows of each table, every value as text in the column order of the INSERT statements.
struct Catalog {
  std::vector<std::vector<std::string>> usuarios, ucs_users, headers, pesquisas, produtos,
      codigos_barra, precos;
};

// Checks the options (raises std::invalid_argument with the reason) and builds the rows.
Catalog GenerateCatalog(const CatalogOptions& options);

// Inserts every row, table by table, in transactions of data::kBatchRowsPerTransaction rows.
void LoadCatalog(data::SqlConnection& connection, const Catalog& catalog);

// True when `ean` is 8 to 14 digits whose last one is the EAN/GTIN check digit.
bool ValidEan(const std::string& ean);

}  // namespace orv::catalog
