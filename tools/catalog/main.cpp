// orvws-catalog: fills a Firebird management database with a generated catalog.
//
//   orvws-catalog --database LOCATION [--create] [--user U] [--password P] [--seed N]
//                 [--products N] [--barcodes N] [--prices N] [--past-prices N] [--stores N]
//                 [--running N] [--past N] [--entries N] [--users N] [--today YYYY-MM-DD]
//
// LOCATION is a path (embedded engine) or host:path / host/port:path (a server). --create
// makes a fresh database with the schema of db/schema.sql first (the file must not exist).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>

#include "catalog.h"
#include "data/test_db.h"

namespace {

constexpr const char* kUsage =
    "usage: orvws-catalog --database LOCATION [--create] [--user U] [--password P]\n"
    "         [--seed N] [--products N] [--barcodes N] [--prices N] [--past-prices N]\n"
    "         [--stores N] [--running N] [--past N] [--entries N] [--users N]\n"
    "         [--today YYYY-MM-DD]\n"
    "LOCATION: a file path (embedded engine) or host:path (a server).\n"
    "--barcodes: total, one to three per product (default about 1.6 per product).\n"
    "--prices: collected prices in the running surveys; --past-prices: in past ones.\n";

int ToInt(const std::string& option, const std::string& value) {
  std::size_t used = 0;
  long long v = 0;
  try {
    v = std::stoll(value, &used);
  } catch (const std::exception&) {
    used = std::string::npos;
  }
  if (value.empty() || used != value.size() || v < -1 || v > 100000000)
    throw std::invalid_argument(option + " needs a whole number, not \"" + value + "\"");
  return static_cast<int>(v);
}

orv::util::TDateTime ToDay(const std::string& value) {
  int y = 0, m = 0, d = 0;
  char tail = 0;
  if (std::sscanf(value.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 || m < 1 || m > 12 ||
      d < 1 || d > 31)
    throw std::invalid_argument("--today needs YYYY-MM-DD, not \"" + value + "\"");
  return orv::util::EncodeDateTime({y, m, d});
}

}  // namespace

int main(int argc, char** argv) {
  orv::catalog::CatalogOptions options;
  std::string location;
  std::string user(orv::data::testdb::kSysdbaUser);
  std::string password(orv::data::testdb::kSysdbaPassword);
  bool create = false;
  try {
    const std::map<std::string, int*> counts = {
        {"--products", &options.products}, {"--barcodes", &options.barcodes},
        {"--prices", &options.prices},     {"--past-prices", &options.past_prices},
        {"--stores", &options.stores},     {"--running", &options.running_surveys},
        {"--past", &options.past_surveys}, {"--entries", &options.entries},
        {"--users", &options.users}};
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--help" || arg == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
      }
      if (arg == "--create") {
        create = true;
        continue;
      }
      if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "--database") {
        location = value;
      } else if (arg == "--user") {
        user = value;
      } else if (arg == "--password") {
        password = value;
      } else if (arg == "--seed") {
        options.seed = static_cast<std::uint64_t>(ToInt(arg, value));
      } else if (arg == "--today") {
        options.today = ToDay(value);
      } else if (auto it = counts.find(arg); it != counts.end()) {
        *it->second = ToInt(arg, value);
      } else {
        throw std::invalid_argument("unknown option " + arg);
      }
    }
    if (location.empty()) throw std::invalid_argument("--database is required");

    const auto start = std::chrono::steady_clock::now();
    const orv::catalog::Catalog catalog = orv::catalog::GenerateCatalog(options);
    if (create) orv::data::testdb::CreateSchemaDatabase(location, user, password);
    auto connection = orv::data::testdb::FirebirdConnection(location, user, password);
    orv::catalog::LoadCatalog(*connection, catalog);
    connection->Close();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "%s: %zu users, %zu surveys, %zu entries, %zu products, %zu bar codes, %zu prices "
        "(seed %llu) in %.1f s\n",
        location.c_str(), catalog.usuarios.size(), catalog.headers.size(),
        catalog.pesquisas.size(), catalog.produtos.size(), catalog.codigos_barra.size(),
        catalog.precos.size(), static_cast<unsigned long long>(options.seed), seconds);
    return 0;
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "orvws-catalog: %s\n%s", e.what(), kUsage);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvws-catalog: %s\n", e.what());
    return 1;
  }
}
