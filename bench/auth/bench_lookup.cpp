// The floor of Auth over a Firebird server: the user lookup that Auth runs (the same statement,
// kept prepared and read-only, each run committed on its own) straight from N connections of the management
// profile, one thread each, for a fixed time. A plain program: bench/auth_server.sh runs it
// beside Auth through the service and compares the rates.
//
//   bench_lookup --banco LOCATION --usuarios COL1,COL2,... [--conexoes N] [--segundos S]
//
// Prints "lookups: <count> in <s> s from <n> connections: <rate>/s".
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "data/conexoes.h"
#include "data/process_end.h"
#include "data/sql.h"
#include "util/utilities.h"

int main(int argc, char** argv) {
  std::string banco;
  std::vector<std::string> usuarios;
  int conexoes = 1;
  double segundos = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i], v = argv[i + 1];
    if (k == "--banco") banco = v;
    else if (k == "--usuarios") usuarios = orv::util::QuebrarTexto(v, ",");
    else if (k == "--conexoes") conexoes = std::atoi(v.c_str());
    else if (k == "--segundos") segundos = std::atof(v.c_str());
  }
  if (banco.empty() || usuarios.empty() || conexoes < 1) {
    std::fprintf(stderr, "uso: bench_lookup --banco LOCAL --usuarios A,B [--conexoes N] [--segundos S]\n");
    return 2;
  }
  orv::data::ConfigConexao config;
  config.TipoBanco = 0;
  config.LocalGestao = banco;
  std::vector<std::unique_ptr<orv::data::SqlConnection>> cs;
  for (int i = 0; i < conexoes; ++i) {
    auto c = std::make_unique<orv::data::SqlConnection>();
    orv::data::IniciarScnGestao(*c);
    orv::data::AplicarPerfil(*c, config);
    c->Open();
    cs.push_back(std::move(c));
  }
  std::atomic<bool> fim{false};
  std::atomic<long long> total{0};
  std::atomic<int> falhas{0};
  std::vector<std::thread> threads;
  const auto inicio = std::chrono::steady_clock::now();
  for (int i = 0; i < conexoes; ++i) {
    threads.emplace_back([&, i] {
      long long n = 0;
      std::size_t u = static_cast<std::size_t>(i);
      while (!fim.load(std::memory_order_relaxed)) {
        try {
          orv::data::SqlQuery q(*cs[static_cast<std::size_t>(i)]);
          q.SetKeepPrepared(true);
          q.SetReadOnly(true);   // as the service's lookup
          q.SetSql({"SELECT COD_USUARIO, COD_LOJA, FLG_MULT_LOJA FROM TAB_USUARIO WHERE DES_USUARIO = "
                    ":DES_USUARIO"});
          q.ParamAsString("DES_USUARIO", usuarios[u++ % usuarios.size()]);
          q.Open();
          if (q.IsEmpty()) ++falhas;
          q.Close();
          ++n;
        } catch (const std::exception& e) {
          std::fprintf(stderr, "lookup failed: %s\n", e.what());
          ++falhas;
          break;
        }
      }
      total += n;
    });
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(segundos));
  fim = true;
  for (auto& t : threads) t.join();
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
  std::printf("lookups: %lld in %.1f s from %d connections: %.0f/s\n", total.load(), s, conexoes,
              static_cast<double>(total.load()) / s);
  for (auto& c : cs) c->Close();
  orv::data::EndProcess(falhas.load() == 0 ? 0 : 1);
}
