// Load mode of the simulator.
#include "carga.h"

#include <boost/asio/ip/address_v4.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <istream>
#include <latch>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

namespace orv::sim {

namespace {

// Longest failure text kept per distinct failure; the rest of a long message adds nothing.
constexpr std::size_t kMaxTextoFalha = 240;
// Distinct failure texts kept per collector; a broken service repeats the same few.
constexpr std::size_t kMaxFalhasDistintas = 50;
// Distinct failure texts printed in the summary.
constexpr std::size_t kMaxFalhasMostradas = 30;
// Collectors start spread over this time (at most a tenth of the run), as handhelds switched
// on at once still do not send their first request in the same millisecond.
constexpr std::chrono::milliseconds kEspalharInicio{1000};

struct Contadores {
  std::atomic<std::int64_t> operacoes{0};
  std::atomic<std::int64_t> falhas{0};
  std::atomic<std::int64_t> ativos{0};
};

class TObservadorCarga final : public IObservadorPassos {
 public:
  explicit TObservadorCarga(Contadores& c) : contadores_(c) {}
  void Passo(const orv::sim::Passo& p) override {
    const int op = static_cast<int>(p.operacao);
    ++contagem[op][static_cast<int>(p.classe)];
    latencias[op].push_back(p.duracao.count());
    contadores_.operacoes.fetch_add(1, std::memory_order_relaxed);
    if (p.classe != Classe::kOk) {
      contadores_.falhas.fetch_add(1, std::memory_order_relaxed);
      // Failures are counted by what went wrong, not by the item they were about.
      std::string texto = std::string(NomeOperacao(p.operacao)) + " " + NomeClasse(p.classe) +
                          (p.detalhe.empty() ? "" : ": " + p.detalhe);
      if (texto.size() > kMaxTextoFalha) texto.resize(kMaxTextoFalha);
      if (primeira.empty()) primeira = texto + (p.item.empty() ? "" : " [" + p.item + "]");
      if (falhas.size() < kMaxFalhasDistintas || falhas.count(texto)) ++falhas[texto];
    }
  }

  std::array<std::array<std::int64_t, kNumClasses>, kNumOperacoes> contagem{};
  std::array<std::vector<std::int64_t>, kNumOperacoes> latencias;
  std::map<std::string, std::int64_t> falhas;
  std::string primeira;

 private:
  Contadores& contadores_;
};

std::string Ms(std::int64_t us) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(us) / 1000.0);
  return buf;
}

}  // namespace

std::string EnderecoDoColetor(const std::string& base, int i) {
  boost::system::error_code ec;
  const auto a = boost::asio::ip::make_address_v4(base, ec);
  if (ec) throw std::invalid_argument("endereço IPv4 inválido: " + base);
  std::uint32_t v = a.to_uint();
  for (int k = 0; k < i; ++k) {
    do {
      ++v;
    } while ((v & 0xFF) == 0 || (v & 0xFF) == 0xFF);
  }
  if ((v >> 24) != (a.to_uint() >> 24)) throw std::invalid_argument("endereços esgotados a partir de " + base);
  return boost::asio::ip::address_v4(v).to_string();
}

std::vector<UsuarioCarga> LerUsuarios(std::istream& entrada) {
  std::vector<UsuarioCarga> u;
  std::string linha;
  while (std::getline(entrada, linha)) {
    while (!linha.empty() && (linha.back() == '\r' || linha.back() == ' ')) linha.pop_back();
    if (linha.empty() || linha[0] == '#') continue;
    UsuarioCarga c;
    const std::size_t sep = linha.find(';');
    c.nome = linha.substr(0, sep);
    if (sep != std::string::npos) {
      try {
        std::size_t usados = 0;
        c.loja = std::stoi(linha.substr(sep + 1), &usados);
        if (usados != linha.size() - sep - 1) throw std::invalid_argument("");
      } catch (const std::exception&) {
        throw std::invalid_argument("loja inválida na linha: " + linha);
      }
    }
    if (c.nome.empty()) throw std::invalid_argument("usuário vazio na linha: " + linha);
    u.push_back(std::move(c));
  }
  return u;
}

std::int64_t Percentil(const std::vector<std::int64_t>& ordenados, double fracao) {
  if (ordenados.empty()) return 0;
  std::size_t rank = static_cast<std::size_t>(fracao * static_cast<double>(ordenados.size()) + 0.999999);
  rank = std::clamp<std::size_t>(rank, 1, ordenados.size());
  return ordenados[rank - 1];
}

std::int64_t ResultadoCarga::Total(Operacao op) const {
  std::int64_t t = 0;
  for (std::int64_t n : contagem[static_cast<int>(op)]) t += n;
  return t;
}
std::int64_t ResultadoCarga::TotalClasse(Classe c) const {
  std::int64_t t = 0;
  for (const auto& linha : contagem) t += linha[static_cast<int>(c)];
  return t;
}
std::int64_t ResultadoCarga::Operacoes() const {
  std::int64_t t = 0;
  for (int op = 0; op < kNumOperacoes; ++op) t += Total(static_cast<Operacao>(op));
  return t;
}
std::int64_t ResultadoCarga::Atendidas(Operacao op) const {
  const auto& c = contagem[static_cast<int>(op)];
  return Total(op) - c[static_cast<int>(Classe::kOcupado)] - c[static_cast<int>(Classe::kRede)];
}
std::int64_t ResultadoCarga::Atendidas() const {
  std::int64_t t = 0;
  for (int op = 0; op < kNumOperacoes; ++op) t += Atendidas(static_cast<Operacao>(op));
  return t;
}
std::int64_t ResultadoCarga::Recusas() const {
  std::int64_t t = 0;
  for (const auto& c : coletores) t += c.recusas;
  return t;
}
std::int64_t ResultadoCarga::Rodadas() const {
  std::int64_t t = 0;
  for (const auto& c : coletores) t += c.rodadas;
  return t;
}
std::int64_t ResultadoCarga::RodadasComFalha() const {
  std::int64_t t = 0;
  for (const auto& c : coletores) t += c.rodadas_com_falha;
  return t;
}

ResultadoCarga ExecutarCarga(const ConfigCarga& config) {
  if (config.coletores < 1 || config.coletores > kMaxColetores)
    throw std::invalid_argument("número de coletores fora de 1.." + std::to_string(kMaxColetores));
  if (config.usuarios.empty()) throw std::invalid_argument("nenhum usuário para os coletores");

  ResultadoCarga r;
  r.coletores.resize(static_cast<std::size_t>(config.coletores));
  for (int i = 0; i < config.coletores; ++i) {
    ColetorCarga& c = r.coletores[static_cast<std::size_t>(i)];
    c.origem = config.origem_inicial.empty() ? "" : EnderecoDoColetor(config.origem_inicial, i);
    c.usuario = config.usuarios[static_cast<std::size_t>(i) % config.usuarios.size()].nome;
  }

  Contadores contadores;
  std::vector<TObservadorCarga> observadores;
  observadores.reserve(r.coletores.size());
  for (std::size_t i = 0; i < r.coletores.size(); ++i) observadores.emplace_back(contadores);

  const auto inicio = std::chrono::steady_clock::now();
  const auto fim = inicio + config.duracao;
  const bool rajada = config.rodadas_rajada > 0;
  const auto espalhar = rajada ? std::chrono::milliseconds(0)
                               : std::min<std::chrono::milliseconds>(
                                     kEspalharInicio,
                                     std::chrono::duration_cast<std::chrono::milliseconds>(config.duracao) / 10);
  // In a burst every collector waits here, once set up, until all of them are.
  std::latch prontos(static_cast<std::ptrdiff_t>(r.coletores.size()));

  std::vector<std::thread> threads;
  threads.reserve(r.coletores.size());
  for (std::size_t i = 0; i < r.coletores.size(); ++i) {
    threads.emplace_back([&, i] {
      ColetorCarga& c = r.coletores[i];
      TObservadorCarga& obs = observadores[i];
      contadores.ativos.fetch_add(1);
      bool chegou = false;   // at the burst's start line
      try {
        std::minstd_rand sorteio(static_cast<unsigned>(i) + 1);
        if (espalhar.count() > 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(sorteio() % static_cast<unsigned>(espalhar.count())));
        Destino d = config.destino;
        d.origem = c.origem;
        TTransporteTcp transporte(d);
        TClienteOrvWs cliente(transporte, config.caminho);
        TBaseColetor base;
        ConfigColetor cc = config.modelo;
        cc.usuario = c.usuario;
        cc.loja = config.usuarios[i % config.usuarios.size()].loja;
        // Prices of different collectors start apart, so that each price names its sender.
        cc.centavos_inicial = static_cast<std::int32_t>(100 + (i * 10007) % (kMaxCentavos - 200));
        cc.pausa = config.pausa;
        cc.semente = static_cast<unsigned>(i) + 1;
        TColetor coletor(cliente, base, cc, obs);
        if (rajada) {
          chegou = true;
          prontos.arrive_and_wait();
          for (int k = 0; k < config.rodadas_rajada; ++k) {
            ++c.rodadas;
            if (!coletor.Rodada()) ++c.rodadas_com_falha;
          }
        }
        while (!rajada && std::chrono::steady_clock::now() < fim) {
          ++c.rodadas;
          if (!coletor.Rodada()) ++c.rodadas_com_falha;
        }
        c.precos = coletor.Precos();
        c.recusas = cliente.Recusas();
      } catch (const std::exception& e) {
        // Only the collector's own set-up throws here (address, local store); in a burst the
        // others must not wait for it.
        if (rajada && !chegou) prontos.count_down();
        ++c.rodadas_com_falha;
        obs.primeira = std::string("coletor não iniciou: ") + e.what();
        ++obs.falhas[obs.primeira];
        contadores.falhas.fetch_add(1);
      }
      c.primeira_falha = obs.primeira;
      contadores.ativos.fetch_sub(1);
    });
  }

  // Progress lines while the collectors run.
  std::mutex m;
  std::condition_variable cv;
  bool terminou = false;
  std::thread progresso;
  if (config.progresso != nullptr && config.progresso_s > 0) {
    progresso = std::thread([&] {
      std::unique_lock<std::mutex> lock(m);
      while (!cv.wait_for(lock, std::chrono::seconds(config.progresso_s), [&] { return terminou; })) {
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
        const std::int64_t ops = contadores.operacoes.load();
        char buf[200];
        std::snprintf(buf, sizeof buf, "[%5.0fs] %lld operações (%.0f/s), %lld falhas, %lld coletores ativos\n", s,
                      static_cast<long long>(ops), s > 0 ? static_cast<double>(ops) / s : 0.0,
                      static_cast<long long>(contadores.falhas.load()), static_cast<long long>(contadores.ativos.load()));
        *config.progresso << buf << std::flush;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  r.duracao = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - inicio);
  {
    std::lock_guard<std::mutex> lock(m);
    terminou = true;
  }
  cv.notify_all();
  if (progresso.joinable()) progresso.join();

  for (TObservadorCarga& o : observadores) {
    for (int op = 0; op < kNumOperacoes; ++op) {
      for (int c = 0; c < kNumClasses; ++c) r.contagem[op][c] += o.contagem[op][c];
      r.latencias_us[op].insert(r.latencias_us[op].end(), o.latencias[op].begin(), o.latencias[op].end());
    }
    for (const auto& [texto, n] : o.falhas) r.falhas[texto] += n;
  }
  for (auto& v : r.latencias_us) std::sort(v.begin(), v.end());
  return r;
}

void EscreverResumo(std::ostream& saida, const ConfigCarga& config, const ResultadoCarga& r) {
  const double s = static_cast<double>(r.duracao.count()) / 1e6;
  char buf[400];
  std::snprintf(buf, sizeof buf, "Carga: %d coletores por %lld s (%.1f s reais), %lld rodadas, %lld com falha\n",
                config.coletores, static_cast<long long>(config.duracao.count()), s,
                static_cast<long long>(r.Rodadas()), static_cast<long long>(r.RodadasComFalha()));
  saida << buf;
  std::snprintf(buf, sizeof buf, "%-16s %8s %8s %6s %6s %6s %6s %6s %6s %8s %8s %8s %8s %8s\n", "operação", "total", "ok",
                "false", "falha", "rede", "prot.", "verif.", "ocup.", "por s", "p50 ms", "p90 ms", "p99 ms", "máx ms");
  saida << buf;
  std::vector<std::int64_t> todas;
  for (int op = 0; op < kNumOperacoes; ++op) {
    const auto& c = r.contagem[op];
    const auto& l = r.latencias_us[op];
    todas.insert(todas.end(), l.begin(), l.end());
    std::snprintf(buf, sizeof buf, "%-16s %8lld %8lld %6lld %6lld %6lld %6lld %6lld %6lld %8.1f %8s %8s %8s %8s\n",
                  NomeOperacao(static_cast<Operacao>(op)), static_cast<long long>(r.Total(static_cast<Operacao>(op))),
                  static_cast<long long>(c[0]), static_cast<long long>(c[1]), static_cast<long long>(c[2]),
                  static_cast<long long>(c[3]), static_cast<long long>(c[4]), static_cast<long long>(c[5]),
                  static_cast<long long>(c[6]),
                  s > 0 ? static_cast<double>(l.size()) / s : 0.0, Ms(Percentil(l, 0.5)).c_str(),
                  Ms(Percentil(l, 0.9)).c_str(), Ms(Percentil(l, 0.99)).c_str(),
                  Ms(l.empty() ? 0 : l.back()).c_str());
    saida << buf;
  }
  std::sort(todas.begin(), todas.end());
  std::snprintf(buf, sizeof buf, "%-16s %8lld %8lld %6lld %6lld %6lld %6lld %6lld %6lld %8.1f %8s %8s %8s %8s\n", "total",
                static_cast<long long>(r.Operacoes()), static_cast<long long>(r.TotalClasse(Classe::kOk)),
                static_cast<long long>(r.TotalClasse(Classe::kFalso)), static_cast<long long>(r.TotalClasse(Classe::kFalha)),
                static_cast<long long>(r.TotalClasse(Classe::kRede)), static_cast<long long>(r.TotalClasse(Classe::kProtocolo)),
                static_cast<long long>(r.TotalClasse(Classe::kVerificacao)),
                static_cast<long long>(r.TotalClasse(Classe::kOcupado)),
                s > 0 ? static_cast<double>(todas.size()) / s : 0.0, Ms(Percentil(todas, 0.5)).c_str(),
                Ms(Percentil(todas, 0.9)).c_str(), Ms(Percentil(todas, 0.99)).c_str(),
                Ms(todas.empty() ? 0 : todas.back()).c_str());
  saida << buf;
  std::int64_t confirmados = 0;
  for (const auto& c : r.coletores) {
    for (const auto& p : c.precos) confirmados += p.estado == 'S';
  }
  saida << "Preços confirmados: " << confirmados << "; pedidos recusados por ocupação e repetidos: " << r.Recusas()
        << "\n";
  const std::int64_t verif = r.TotalClasse(Classe::kVerificacao);
  saida << "Verificação: " << r.coletores.size() << " coletores, "
        << (verif == 0 ? std::string("cada um viu só os dados da própria sessão")
                       : std::to_string(verif) + " respostas com dados alheios")
        << "\n";
  if (!r.falhas.empty()) {
    saida << "Falhas (texto: vezes):\n";
    std::size_t mostradas = 0;
    for (const auto& [texto, n] : r.falhas) {
      if (++mostradas > kMaxFalhasMostradas) {
        saida << "  ... e mais " << r.falhas.size() - kMaxFalhasMostradas << " textos\n";
        break;
      }
      saida << "  " << texto << ": " << n << "\n";
    }
  }
}

void EscreverRelatorio(std::ostream& saida, const ResultadoCarga& r) {
  static const char* const kChaves[kNumClasses] = {"ok", "false", "falha", "rede", "protocolo", "verificacao", "ocupado"};
  saida << "duracao_s=" << static_cast<double>(r.duracao.count()) / 1e6 << "\n";
  saida << "operacoes=" << r.Operacoes() << "\n";
  // Operations that reached the service's operation: neither refused as busy nor lost on the way.
  saida << "operacoes_atendidas=" << r.Atendidas() << "\n";
  saida << "rodadas=" << r.Rodadas() << "\n";
  saida << "rodadas_com_falha=" << r.RodadasComFalha() << "\n";
  saida << "recusas=" << r.Recusas() << "\n";
  for (int c = 0; c < kNumClasses; ++c) saida << "classe_" << kChaves[c] << "=" << r.TotalClasse(static_cast<Classe>(c)) << "\n";
  for (int op = 0; op < kNumOperacoes; ++op) {
    const char* nome = NomeOperacao(static_cast<Operacao>(op));
    saida << nome << "=" << r.Total(static_cast<Operacao>(op)) << "\n";
    saida << nome << "_atendidas=" << r.Atendidas(static_cast<Operacao>(op)) << "\n";
    for (int c = 0; c < kNumClasses; ++c) saida << nome << "_" << kChaves[c] << "=" << r.contagem[op][c] << "\n";
    const auto& l = r.latencias_us[op];
    saida << nome << "_p50_us=" << Percentil(l, 0.5) << "\n" << nome << "_p99_us=" << Percentil(l, 0.99) << "\n";
  }
  for (const auto& c : r.coletores) saida << "coletor=" << c.origem << ";" << c.usuario << "\n";
}

void EscreverPrecos(std::ostream& saida, const std::vector<PrecoEnviado>& precos) {
  for (const auto& p : precos) {
    saida << p.item.cod_pesquisa_header << ';' << p.item.cod_pesquisa << ';' << p.item.cod_loja << ';'
          << p.item.cod_produto << ';' << p.item.cod_ean << ';' << p.centavos << ';' << p.estado << '\n';
  }
}

void EscreverPrecos(std::ostream& saida, const ResultadoCarga& r) {
  for (const auto& c : r.coletores) EscreverPrecos(saida, c.precos);
}

}  // namespace orv::sim
