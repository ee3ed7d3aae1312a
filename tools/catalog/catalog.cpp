#include "catalog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "data/data_limits.h"
#include "util/env.h"

namespace orv::catalog {
namespace {

// A small generator with a fixed algorithm (splitmix64), so a seed gives the same catalog with
// every compiler and standard library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
  template <class T>
  const T& Pick(const std::vector<T>& v) {
    return v[static_cast<std::size_t>(Below(static_cast<int>(v.size())))];
  }

 private:
  std::uint64_t state_;
};

const std::vector<std::string> kItems = {
    "ARROZ", "FEIJÃO CARIOCA", "FEIJÃO PRETO", "AÇÚCAR CRISTAL", "AÇÚCAR REFINADO", "CAFÉ",
    "LEITE INTEGRAL", "LEITE DESNATADO", "ÓLEO DE SOJA", "MACARRÃO ESPAGUETE", "FARINHA DE TRIGO",
    "FARINHA DE MANDIOCA", "SAL REFINADO", "MOLHO DE TOMATE", "EXTRATO DE TOMATE", "SARDINHA",
    "ATUM", "BISCOITO CREAM CRACKER", "BISCOITO RECHEADO", "MARGARINA", "MANTEIGA",
    "QUEIJO MUÇARELA", "PRESUNTO", "IOGURTE", "REFRIGERANTE COLA", "SUCO DE LARANJA",
    "ÁGUA MINERAL", "CERVEJA", "SABÃO EM PÓ", "DETERGENTE", "AMACIANTE", "DESINFETANTE",
    "PAPEL HIGIÊNICO", "CREME DENTAL", "SABONETE", "XAMPU", "ACHOCOLATADO", "AVEIA EM FLOCOS",
    "MILHO VERDE", "ERVILHA"};
const std::vector<std::string> kBrands = {
    "BOA SAFRA", "PRATO CHEIO", "D'OURO", "SÃO JOÃO", "TIO ZÉ", "CAMPO BELO", "VÓ MARIA",
    "ESTRELA", "SOL NASCENTE", "BOM GOSTO", "DA FAZENDA", "SANTA CLARA"};
const std::vector<std::string> kSizes = {"500G", "1KG", "2KG", "5KG", "200G", "1L", "2L",
                                         "350ML", "90G", "12UN", "4UN", "400G"};
const std::vector<std::string> kCompetitors = {
    "Atacadão Central", "Mercado Bom Preço", "Supermercado São José", "Empório D'Ajuda",
    "Mercadinho da Esquina", "Hiper Família", "Comercial Irmãos Souza", "Rede Econômica",
    "Sacolão Popular", "Mercado União"};
const std::vector<std::string> kFirstNames = {
    "ANA", "BRUNO", "CAIO", "DÉBORA", "EDUARDO", "FÁTIMA", "GUSTAVO", "HELENA", "ÍGOR", "JOÃO",
    "KARINA", "LUCAS", "MARIA", "NATÁLIA", "OTÁVIO", "PAULA", "RAFAEL", "SÍLVIA", "TIAGO", "VERA"};

std::string Date(util::TDateTime day) {
  const util::DateTimeParts p = util::DecodeDateTime(day);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  return buf;
}

std::string Timestamp(util::TDateTime t) {
  const util::DateTimeParts p = util::DecodeDateTime(t);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return buf;
}

int CheckDigit(const std::string& digits) {  // GTIN: weights 3,1,3,... from the right
  int sum = 0;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const int d = digits[digits.size() - 1 - i] - '0';
    sum += (i % 2 == 0) ? 3 * d : d;
  }
  return (10 - sum % 10) % 10;
}

// A distinct 13-digit EAN for each index: the country prefix 789, then nine digits that a
// multiplier coprime with 10^9 scatters without repeats, then the check digit.
std::string Ean(std::uint64_t index, std::uint64_t salt) {
  constexpr std::uint64_t kSpace = 1000000000ull;
  const std::uint64_t body = (index * 7919ull * 10007ull + salt) % kSpace;
  char buf[16];
  std::snprintf(buf, sizeof buf, "789%09llu", static_cast<unsigned long long>(body));
  std::string s = buf;
  return s + static_cast<char>('0' + CheckDigit(s));
}

std::string Money(int cents) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%02d", cents / 100, cents % 100);
  return buf;
}

void Need(bool ok, const char* reason) {
  if (!ok) throw std::invalid_argument(reason);
}

void Insert(data::SqlConnection& c, const std::string& sql,
            const std::vector<std::vector<std::string>>& rows) {
  data::SqlQuery q(c);
  q.SetSql({sql});
  for (std::size_t at = 0; at < rows.size(); at += data::kBatchRowsPerTransaction) {
    const auto end = rows.begin() + static_cast<std::ptrdiff_t>(
                                        std::min(rows.size(), at + data::kBatchRowsPerTransaction));
    q.ExecBatch(std::vector<std::vector<std::string>>(
        rows.begin() + static_cast<std::ptrdiff_t>(at), end));
  }
}

}  // namespace

bool ValidEan(const std::string& ean) {
  if (ean.size() < 8 || ean.size() > 14) return false;
  if (!std::all_of(ean.begin(), ean.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  return CheckDigit(ean.substr(0, ean.size() - 1)) == ean.back() - '0';
}

Catalog GenerateCatalog(const CatalogOptions& o) {
  const int barcodes = o.barcodes > 0 ? o.barcodes : o.products + (o.products * 3) / 5;
  const int past_prices = o.past_prices >= 0 ? o.past_prices : o.prices / 5;
  Need(o.products >= 1, "at least one product is needed");
  Need(o.stores >= 1 && o.entries >= 1 && o.running_surveys >= 0 && o.past_surveys >= 0 &&
           o.users >= 0 && o.prices >= 0 && past_prices >= 0,
       "counts must not be negative, and stores and entries at least one");
  Need(barcodes >= o.products && barcodes <= 3 * o.products,
       "every product has one to three bar codes: products <= barcodes <= 3 x products");
  const long long running_slots =
      static_cast<long long>(o.running_surveys) * o.entries * o.products;
  const long long past_slots = static_cast<long long>(o.past_surveys) * o.entries * o.products;
  Need(o.prices <= running_slots,
       "more prices than running surveys x entries x products (one price per product and entry)");
  Need(past_prices <= past_slots,
       "more past prices than past surveys x entries x products");

  Random rnd(o.seed);
  Catalog cat;
  const util::TDateTime today = std::floor(o.today != 0 ? o.today : util::Env::Default().Now());

  // Users: codes 1..n; most bound to their store, most allowed to collect.
  for (int u = 1; u <= o.users; ++u) {
    const std::string name = rnd.Pick(kFirstNames) + std::to_string(u);
    const std::string store = std::to_string(1 + rnd.Below(o.stores));
    cat.usuarios.push_back({std::to_string(u), name, store, rnd.Below(4) == 0 ? "S" : "N",
                            rnd.Below(5) == 0 ? "N" : "S"});
    std::string lower;
    for (char c : name) lower.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
    cat.ucs_users.push_back({std::to_string(u), lower, "pw" + std::to_string(rnd.Below(1000000))});
  }

  // Surveys: running ones include today; past ones ended before it.
  struct Survey {
    int code;
    bool running;
  };
  std::vector<Survey> surveys;
  int code = 0;
  for (int s = 0; s < o.past_surveys; ++s) {
    ++code;
    const util::TDateTime end = today - 7.0 * (o.past_surveys - s) - 1;
    cat.headers.push_back({std::to_string(code), "Pesquisa semanal " + std::to_string(code),
                           Date(end - 6), Date(end)});
    surveys.push_back({code, false});
  }
  for (int s = 0; s < o.running_surveys; ++s) {
    ++code;
    cat.headers.push_back({std::to_string(code), "Pesquisa em andamento " + std::to_string(code),
                           Date(today - 1 - rnd.Below(5)), Date(today + 1 + rnd.Below(10))});
    surveys.push_back({code, true});
  }
  // Entries: competitor e of each survey, assigned to a store in turn.
  for (const Survey& s : surveys)
    for (int e = 1; e <= o.entries; ++e)
      cat.pesquisas.push_back({std::to_string(s.code), std::to_string(e),
                               std::to_string(1 + (e - 1 + s.code) % o.stores),
                               kCompetitors[static_cast<std::size_t>(e - 1) % kCompetitors.size()] +
                                   " " + std::to_string(e)});

  // Products and their bar codes: one each, the rest spread at random up to three.
  std::vector<int> per_product(static_cast<std::size_t>(o.products), 1);
  for (int extra = barcodes - o.products; extra > 0;) {
    int& n = per_product[static_cast<std::size_t>(rnd.Below(o.products))];
    if (n < 3) {
      ++n;
      --extra;
    }
  }
  const std::uint64_t salt = rnd.Next() % 1000000000ull;
  std::uint64_t ean_index = 0;
  for (int p = 1; p <= o.products; ++p) {
    const std::string cod = std::to_string(p);
    cat.produtos.push_back(
        {cod, rnd.Pick(kItems) + " " + rnd.Pick(kBrands) + " " + rnd.Pick(kSizes)});
    for (int b = 0; b < per_product[static_cast<std::size_t>(p - 1)]; ++b)
      cat.codigos_barra.push_back({cod, Ean(ean_index++, salt)});
  }

  // Prices: price i goes to product i mod P, so every product appears before any repeats; a
  // product's k-th price goes to the k-th entry after its own starting one, so no key repeats.
  auto add_prices = [&](bool running, int count) {
    std::vector<std::pair<int, int>> slots;  // (survey code, entry)
    for (const Survey& s : surveys)
      if (s.running == running)
        for (int e = 1; e <= o.entries; ++e) slots.emplace_back(s.code, e);
    if (slots.empty()) return;
    std::vector<int> start(static_cast<std::size_t>(o.products));
    for (int& st : start) st = rnd.Below(static_cast<int>(slots.size()));
    for (int i = 0; i < count; ++i) {
      const int product = i % o.products;
      const int round = i / o.products;
      const auto& [survey, entry] =
          slots[static_cast<std::size_t>(start[static_cast<std::size_t>(product)] + round) %
                slots.size()];
      const std::string store = std::to_string(1 + (entry - 1 + survey) % o.stores);
      const util::TDateTime when = today - rnd.Below(5) + (8 * 60 + rnd.Below(10 * 60)) / 1440.0;
      cat.precos.push_back({std::to_string(survey), std::to_string(entry), store,
                            std::to_string(product + 1), Money(99 + rnd.Below(5000)),
                            Timestamp(when)});
    }
  };
  add_prices(true, o.prices);
  add_prices(false, past_prices);
  return cat;
}

void LoadCatalog(data::SqlConnection& c, const Catalog& cat) {
  Insert(c,
         "INSERT INTO TAB_USUARIO (COD_USUARIO, DES_USUARIO, COD_LOJA, FLG_MULT_LOJA, "
         "FLG_COLE_WIFI) VALUES (:A, :B, :C, :D, :E)",
         cat.usuarios);
  Insert(c, "INSERT INTO UCS_USERS (USER_ID, USER_NAME, USER_PWD) VALUES (:A, :B, :C)",
         cat.ucs_users);
  Insert(c,
         "INSERT INTO TAB_PESQUISA_HEADER (COD_PESQUISA_HEADER, DES_PESQUISA_HEADER, DTA_INICIO, "
         "DTA_TERMINO) VALUES (:A, :B, :C, :D)",
         cat.headers);
  Insert(c,
         "INSERT INTO TAB_PESQUISA (COD_PESQUISA_HEADER, COD_PESQUISA, COD_LOJA, DES_PESQUISA) "
         "VALUES (:A, :B, :C, :D)",
         cat.pesquisas);
  Insert(c, "INSERT INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES (:A, :B)", cat.produtos);
  Insert(c, "INSERT INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES (:A, :B)",
         cat.codigos_barra);
  Insert(c,
         "INSERT INTO TAB_PRODUTO_PESQUISA (COD_PESQUISA_HEADER, COD_PESQUISA, COD_LOJA, "
         "COD_PRODUTO, VAL_PESQUISA, DTA_PESQUISA) VALUES (:A, :B, :C, :D, :E, :F)",
         cat.precos);
}

}  // namespace orv::catalog
