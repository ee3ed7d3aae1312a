// Load mode: N simulated handhelds, each on a thread of its own, from its own local address
// (127.0.x.y stand for separate devices), with its own user and store, running rounds for a
// fixed time. Collects per-operation counts by outcome and latencies, shows progress, and
// keeps every price sent so that the database can be checked afterwards.
//
// Thread safety: ExecutarCarga runs on the caller's thread and starts and joins the
// collectors' threads; progress lines are written from one extra thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "coletor.h"
#include "http_cliente.h"

namespace orv::sim {

// The i-th address after `base` (i = 0 gives `base`), skipping last octets 0 and 255 so that no
// address looks like a network or broadcast address. IPv4 only; throws std::invalid_argument.
std::string EnderecoDoColetor(const std::string& base, int i);

struct UsuarioCarga {
  std::string nome;
  std::optional<std::int32_t> loja;
};

// "usuario" or "usuario;loja" per line; blank lines and lines beginning with '#' are skipped.
std::vector<UsuarioCarga> LerUsuarios(std::istream& entrada);

struct ConfigCarga {
  Destino destino;                 // host, port, deadline per request (origem is ignored)
  std::string caminho{kCaminhoSoap};
  int coletores = 1;
  std::chrono::seconds duracao{10};
  std::string origem_inicial;      // first local address; empty: the system chooses
  std::vector<UsuarioCarga> usuarios;   // collector i works as usuarios[i % size]
  ConfigColetor modelo;            // key, items per round, Exec
  std::chrono::milliseconds pausa{0};   // think time before each operation (see ConfigColetor)
  // A shift-start burst: every collector starts at the same instant (no spreading) and runs
  // this many rounds, then stops; 0: rounds until the duration has passed.
  int rodadas_rajada = 0;
  int progresso_s = kProgressoPadraoS;  // 0: no progress lines
  std::ostream* progresso = nullptr;
};

struct ColetorCarga {
  std::string origem;
  std::string usuario;
  std::int64_t rodadas = 0;
  std::int64_t rodadas_com_falha = 0;
  std::int64_t recusas = 0;
  std::vector<PrecoEnviado> precos;
  std::string primeira_falha;
};

struct ResultadoCarga {
  std::chrono::microseconds duracao{0};
  std::array<std::array<std::int64_t, kNumClasses>, kNumOperacoes> contagem{};
  std::array<std::vector<std::int64_t>, kNumOperacoes> latencias_us;   // every step, sorted
  std::vector<ColetorCarga> coletores;
  // Distinct failure texts ("operation class: detail", cut) and how often each came.
  std::map<std::string, std::int64_t> falhas;

  std::int64_t Total(Operacao op) const;
  std::int64_t TotalClasse(Classe c) const;
  std::int64_t Operacoes() const;
  // Operations that reached the service's operation (not refused as busy, not lost on the way).
  std::int64_t Atendidas(Operacao op) const;
  std::int64_t Atendidas() const;
  std::int64_t Recusas() const;
  std::int64_t Rodadas() const;
  std::int64_t RodadasComFalha() const;
};

ResultadoCarga ExecutarCarga(const ConfigCarga& config);

// The value below which `fracao` of the sorted values lie (nearest rank); 0 when empty.
std::int64_t Percentil(const std::vector<std::int64_t>& ordenados, double fracao);

// The summary table (throughput and latency percentiles per operation, outcomes).
void EscreverResumo(std::ostream& saida, const ConfigCarga& config, const ResultadoCarga& r);
// key=value lines for scripts: counts per operation and outcome, the collectors' addresses and
// users ("coletor=<addr>;<user>").
void EscreverRelatorio(std::ostream& saida, const ResultadoCarga& r);
// One line per price sent: header;entry;store;product;ean;cents;state (S, N or ?).
void EscreverPrecos(std::ostream& saida, const ResultadoCarga& r);
void EscreverPrecos(std::ostream& saida, const std::vector<PrecoEnviado>& precos);

}  // namespace orv::sim
