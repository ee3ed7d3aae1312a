// GetSQL over a large catalog against its floor: fetching the same rows through the same
// connection without building anything. Reports both times, their ratio, and the peak heap of
// the whole answer beyond what was live before it (the operation's script, its envelope and
// the HTTP answer's pieces, as the endpoint and the listener's writer make them), against the
// size of the script.
//
//   bench_getsql [--db PATH] [--servidor] [--runs N] [--produtos N] [--barras N] [--precos N]
//                [--check]
//
// Without --db a fresh embedded database is created in a temporary folder (on tmpfs when
// there is one) and filled with a generated catalog of the given size; with --servidor it is
// made on the test server of scripts/fbserver.sh instead (which must be running), and the
// collector's login is created there, so that every row crosses the server's protocol. --check makes the exit
// status non-zero when a target is missed (GetSQL <= 1.15 x the fetch, peak <= 2 x the script).
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "data/config/configuracao.h"
#include "data/sql.h"
#include "data/test_db.h"
#include "operator/activity_log.h"
#include "service/dm_dados.h"
#include "service/orvws.h"
#include "service/script_coletor.h"
#include "host/http_response.h"
#include "soap/endpoint.h"
#include "soap/orvws_intf.h"
#include "util/platform.h"
#include "util/regional.h"
#include "catalog/catalog.h"

// ---- Heap accounting: every operator new/delete of the process ---------------------------

namespace {
std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

void* Alloc(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  const long long live = g_live += static_cast<long long>(malloc_usable_size(p));
  long long peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return p;
}
void Free(void* p) {
  if (!p) return;
  g_live -= static_cast<long long>(malloc_usable_size(p));
  std::free(p);
}
}  // namespace

void* operator new(std::size_t n) { return Alloc(n); }
void* operator new[](std::size_t n) { return Alloc(n); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using orv::service::Secao;

struct Opcoes {
  std::string db;
  int runs = 5;
  int produtos = 50000;
  int barras = 100000;
  int precos = 50000;
  bool check = false;
  bool servidor = false;
};

// The catalog of tools/catalog (orvws-catalog) with the sizes asked for.
void GerarCatalogo(const std::string& caminho, const Opcoes& o) {
  orv::catalog::CatalogOptions c;
  c.products = o.produtos;
  c.barcodes = o.barras;
  c.prices = o.precos;
  const orv::catalog::Catalog catalogo = orv::catalog::GenerateCatalog(c);
  auto con = orv::data::testdb::FirebirdConnection(caminho);
  con->Open();
  orv::catalog::LoadCatalog(*con, catalogo);
  con->Close();
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Mediana(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  Opcoes o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--db") o.db = next();
    else if (a == "--runs") o.runs = std::max(1, std::atoi(next().c_str()));
    else if (a == "--produtos") o.produtos = std::max(1, std::atoi(next().c_str()));
    else if (a == "--barras") o.barras = std::max(1, std::atoi(next().c_str()));
    else if (a == "--precos") o.precos = std::max(1, std::atoi(next().c_str()));
    else if (a == "--check") o.check = true;
    else if (a == "--servidor") o.servidor = true;
    else {
      std::fprintf(stderr, "uso: %s [--db PATH] [--servidor] [--runs N] [--produtos N] "
                           "[--barras N] [--precos N] [--check]\n", argv[0]);
      return 2;
    }
  }
  orv::util::SetRegional(orv::util::RegionalPtBR());

  const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  const fs::path pasta = base / ("orv_bench_getsql_" + std::to_string(std::random_device{}()));
  fs::create_directories(pasta);
  std::string caminho = o.db;
  fs::path no_servidor;   // the database's folder on the server, when made there
  try {
    if (caminho.empty()) {
      const auto t0 = Clock::now();
      if (o.servidor) {
        no_servidor = fs::temp_directory_path() / pasta.filename();
        orv::data::testdb::PrepareServerFolder(no_servidor);
        caminho = orv::data::testdb::ServerLocation(no_servidor / "gestao.fdb");
        orv::data::testdb::CreateSchemaDatabase(caminho);
        // The collector's own login, with the password the service gives it.
        auto sysdba = orv::data::testdb::FirebirdConnection(caminho);
        orv::data::SqlQuery q(*sysdba);
        q.SetSql({"CREATE OR ALTER USER BENCHMARK PASSWORD '" +
                  orv::service::SenhaDoUsuario("BENCHMARK") + "' USING PLUGIN Srp"});
        q.ExecSQL();
        sysdba->Close();
      } else {
        caminho = orv::data::testdb::CreateTestDatabase(pasta, false);
      }
      GerarCatalogo(caminho, o);
      std::printf("catalog: %d products, %d bar codes, %d prices generated in %.1f s\n",
                  o.produtos, o.barras, o.precos, Ms(Clock::now() - t0) / 1000);
    }

    orv::service::TDmDados dm;
    orv::data::ConfigConexao config;
    config.LocalGestao = caminho;
    dm.DataModuleCreate(config);
    orv::op::ActivityLogOptions lo;
    lo.PastaLogs = orv::util::platform::Utf8FromPath(pasta);
    orv::op::TActivityLog log(std::move(lo));
    const std::string ip = "127.0.0.1";
    if (!orv::service::TOrvWs({ip}, dm, log).Auth(std::string(orv::service::kChaveAutenticacao),
                                                  "BENCHMARK")) {
      std::fprintf(stderr, "Auth failed\n");
      return 1;
    }
    auto con = dm.ConexaoRegistrada("BENCHMARK");

    // The floor: the same queries on the same connection, every row fetched, nothing built.
    std::size_t linhas = 0;
    const auto fetch = [&] {
      orv::data::SqlQuery q(*con);
      linhas = 0;
      for (Secao s : orv::service::kSecoesCompletas) {
        q.SetSql(orv::service::SqlSecao(s, dm.TipoBanco(), std::nullopt));
        q.Open();
        for (q.First(); !q.Eof(); q.Next()) ++linhas;
        q.Close();
      }
    };
    // The answer as it goes out: the operation's pieces, the envelope written piece by piece,
    // the HTTP answer's pieces. Its time is the operation's alone.
    orv::soap::InterfaceInfo intf = orv::soap::OrvWsInterface();
    intf.ns = "urn:UOrvWsIntf-IOrvWs";
    const orv::soap::OperationInfo& op = intf.operations[*intf.FindOperation("GetSQL")];
    std::size_t script_size = 0, answer_size = 0;
    double op_ms = 0;
    const auto getsql = [&] {
      const auto t = Clock::now();
      std::vector<std::string> parts = orv::service::TOrvWs({ip}, dm, log).GetSQLEmPartes("");
      op_ms = Ms(Clock::now() - t);
      script_size = 0;
      for (const auto& p : parts) script_size += p.size();
      orv::soap::CallValue r = orv::soap::CallValue::TextParts(std::move(parts));
      orv::host::TWebResponse response;
      response.ContentType = "text/xml; charset=\"utf-8\"";
      response.SetContentParts(orv::soap::EncodeCallResponse(intf, op, r));
      answer_size = 0;
      for (const auto& p : orv::host::RenderResponseParts(response)) answer_size += p.size();
    };

    fetch();  // warm the database cache
    getsql();
    std::vector<double> t_fetch, t_getsql;
    long long pico_fetch = 0, pico_getsql = 0;
    for (int r = 0; r < o.runs; ++r) {
      long long antes = g_live.load();
      g_peak.store(antes);
      auto t0 = Clock::now();
      fetch();
      t_fetch.push_back(Ms(Clock::now() - t0));
      pico_fetch = std::max(pico_fetch, g_peak.load() - antes);

      antes = g_live.load();
      g_peak.store(antes);
      getsql();
      t_getsql.push_back(op_ms);
      pico_getsql = std::max(pico_getsql, g_peak.load() - antes);
    }
    const double f = Mediana(t_fetch), g = Mediana(t_getsql);
    const double tamanho = static_cast<double>(script_size);
    // The targets: GetSQL within 15% of fetching the same rows, and at most twice the script's
    // size in heap at the answer's peak.
    constexpr double kAlvoTempo = 1.15;
    constexpr double kAlvoMemoria = 2.0;
    const double razao_tempo = g / f;
    const double razao_memoria = static_cast<double>(pico_getsql) / tamanho;
    std::printf("rows fetched: %zu, script: %.2f MB (%zu bytes), HTTP answer %zu bytes\n", linhas,
                tamanho / 1e6, script_size, answer_size);
    std::printf("fetch (floor): median %.1f ms of %d runs, peak heap %.2f MB\n", f, o.runs,
                static_cast<double>(pico_fetch) / 1e6);
    std::printf("GetSQL:        median %.1f ms of %d runs, peak heap %.2f MB\n", g, o.runs,
                static_cast<double>(pico_getsql) / 1e6);
    std::printf("time ratio GetSQL/fetch: %.2f (target <= %.2f) %s\n", razao_tempo,
                kAlvoTempo, razao_tempo <= kAlvoTempo ? "ok" : "MISSED");
    std::printf("peak heap / script size: %.2f (target <= %.2f) %s\n", razao_memoria,
                kAlvoMemoria, razao_memoria <= kAlvoMemoria ? "ok" : "MISSED");
    std::error_code ec;
    fs::remove_all(pasta, ec);
    if (!no_servidor.empty()) fs::remove_all(no_servidor, ec);
    if (o.check && (razao_tempo > kAlvoTempo || razao_memoria > kAlvoMemoria)) return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    std::error_code ec;
    fs::remove_all(pasta, ec);
    if (!no_servidor.empty()) fs::remove_all(no_servidor, ec);
    return 1;
  }
  return 0;
}
