// One simulated handheld: a round of Auth, GetSQL (applied to its local store), the prices
// of a few products of a running survey sent with AddItemPesquisa (the answers applied and
// checked), and an Exec batch. Every step is timed, classified and handed to an observer.
//
// Thread safety: a TColetor belongs to one thread; the observer is called on that thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base_coletor.h"
#include "sim_limites.h"
#include "soap_cliente.h"

namespace orv::sim {

enum class Operacao { kAuth, kGetSQL, kAddItemPesquisa, kExec };
inline constexpr int kNumOperacoes = 4;
const char* NomeOperacao(Operacao op);

// How a step ended.
enum class Classe {
  kOk,
  kFalso,        // the service answered "false" (Auth, AddItemPesquisa) or "false;" (Exec), or
                 // an empty text (no session for this collector's address)
  kFalha,        // a SOAP fault
  kRede,         // no connection, reset, time-out
  kProtocolo,    // not an HTTP answer, not a SOAP envelope, a result of the wrong form
  kVerificacao,  // a well-formed answer with data that is not this collector's
  kOcupado,      // refused as busy through every retry: the operation never ran
};
inline constexpr int kNumClasses = 7;
const char* NomeClasse(Classe c);

struct Passo {
  Operacao operacao = Operacao::kAuth;
  Classe classe = Classe::kOk;
  std::chrono::microseconds duracao{0};
  std::string item;      // what the step was about (the price sent), "" for the others
  std::string detalhe;   // its result or its problem
};

// A price sent with AddItemPesquisa and what came of it.
struct PrecoEnviado {
  ItemColeta item;
  std::int32_t centavos = 0;
  // "S": the service confirmed it; "N": it answered "false" or empty (no session); "?": no
  // answer (fault, network).
  char estado = '?';
};

class IObservadorPassos {
 public:
  virtual ~IObservadorPassos() = default;
  virtual void Passo(const Passo& passo) = 0;
};

struct ConfigColetor {
  std::string chave{kChaveAutenticacao};
  std::string usuario;
  int itens = kItensPadrao;
  // Store the collector works for. Unset: the store of its user in the download; when that
  // user is bound to one store, only that store's entries are expected in the download.
  std::optional<std::int32_t> loja;
  // Exec batch; empty: one UPDATE per price confirmed in the round (or a no-op when none).
  std::string exec_sql;
  bool exec = true;
  // First price in cents; each price sent adds one, so every price of a run is known.
  std::int32_t centavos_inicial = 100;
  // Think time before each operation but the first (the person holding the handheld), drawn
  // between half and one and a half times this.
  std::chrono::milliseconds pausa{0};
  unsigned semente = 1;
};

class TColetor {
 public:
  TColetor(TClienteOrvWs& cliente, TBaseColetor& base, ConfigColetor config, IObservadorPassos& observador);

  // One round; true when every step ended kOk.
  bool Rodada();
  const std::vector<PrecoEnviado>& Precos() const { return precos_; }
  // The Exec batch the default builds for the given confirmed prices.
  static std::string LoteExec(const std::vector<PrecoEnviado>& confirmados);
  // Checks an AddItemPesquisa answer against what was sent: statements for the product, its
  // bar codes and the update of this entry's row. Returns the problem, or "" when it fits.
  static std::string ConferirRespostaAdd(const std::string& resposta, const ItemColeta& item);

 private:
  // Runs one step, times it (up to the end of its service call) and reports it.
  template <class F>
  Classe Medir(Operacao op, F&& f);
  void FimChamada() { fim_chamada_ = std::chrono::steady_clock::now(); }
  Classe Auth();
  Classe GetSQL();
  Classe Adicionar(const ItemColeta& item, std::vector<PrecoEnviado>& confirmados);
  Classe Exec(const std::vector<PrecoEnviado>& confirmados);

  TClienteOrvWs& cliente_;
  TBaseColetor& base_;
  ConfigColetor config_;
  IObservadorPassos& observador_;
  std::optional<std::int32_t> loja_;   // the store whose entries are collected this round
  std::int32_t proximo_centavo_;
  std::vector<PrecoEnviado> precos_;
  std::string item_;
  std::string detalhe_;
  std::optional<std::chrono::steady_clock::time_point> fim_chamada_;
  std::minstd_rand sorteio_;
  bool primeira_operacao_ = true;
};

}  // namespace orv::sim
