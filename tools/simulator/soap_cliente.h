// The collector's SOAP side: request envelopes written by hand in the form the handhelds send,
// the reading of response and fault envelopes with libxml2 (no DTD, no entities, no network),
// and TClienteOrvWs, the four operations of IOrvWs over a transport.
//
// Thread safety: the envelope and reading functions are pure and may run on many threads at
// once (the library's global set-up runs once); a TClienteOrvWs serves one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "http_cliente.h"
#include "sim_limites.h"

namespace orv::sim {

// The service answered with a SOAP fault.
class ErroFalhaSoap : public std::runtime_error {
 public:
  ErroFalhaSoap(std::string codigo, const std::string& texto)
      : std::runtime_error(texto), codigo_(std::move(codigo)) {}
  const std::string& Codigo() const { return codigo_; }

 private:
  std::string codigo_;
};

// The service stayed busy ("Maximum number of concurrent connections exceeded") through every
// retry: the request never reached the operation.
class ErroOcupado : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Text escaped as XML character data (also safe inside attribute values).
std::string EscaparXml(std::string_view texto);

// Request envelopes of IOrvWs. Values are written with xsi:type as the handhelds do.
std::string EnvelopeAuth(std::string_view chave, std::string_view usuario);
std::string EnvelopeGetSQL(std::string_view valor);
std::string EnvelopeExec(std::string_view valor);
std::string EnvelopeAddItemPesquisa(std::int32_t cod_pesquisa, std::int32_t cod_concorrente,
                                    std::string_view cod_ean, float val_pesquisa);
// A float as the shortest decimal text that reads back as the same float ("3.99").
std::string TextoFloat(float valor);

// What a response envelope holds.
struct RespostaSoap {
  bool falha = false;
  std::string codigo_falha;   // faultcode
  std::string texto_falha;    // faultstring
  std::string operacao;       // local name of the response element ("AuthResponse")
  std::string tipo;           // xsi:type of `return`
  std::string retorno;        // text of `return`
};

// Reads a SOAP 1.1 response or fault envelope. Throws ErroProtocolo when the bytes are not
// well-formed XML, carry a DOCTYPE, or are not such an envelope.
RespostaSoap LerEnvelope(std::string_view corpo);

// How a collector comes back after "Maximum number of concurrent connections exceeded".
struct PoliticaOcupado {
  int tentativas = kMaxTentativasOcupado;
  std::chrono::milliseconds pausa_inicial = kPausaOcupadoInicial;
  std::chrono::milliseconds pausa_maxima = kPausaOcupadoMaxima;
  std::chrono::milliseconds prazo = kTempoLimitePadrao;   // from the first try
};

// The four operations over a transport. An HTTP answer other than 200 with an envelope, a
// fault, or an envelope of the wrong operation throws; "Maximum number of concurrent
// connections exceeded" answers are retried (PoliticaOcupado) and counted, and throw
// ErroOcupado once the retries are used up.
class TClienteOrvWs {
 public:
  explicit TClienteOrvWs(ITransporte& transporte, std::string caminho = std::string(kCaminhoSoap),
                         PoliticaOcupado ocupado = {})
      : transporte_(transporte), caminho_(std::move(caminho)), ocupado_(ocupado) {}

  bool Auth(std::string_view chave, std::string_view usuario);
  std::string GetSQL(std::string_view valor);
  std::string Exec(std::string_view valor);
  std::string AddItemPesquisa(std::int32_t cod_pesquisa, std::int32_t cod_concorrente,
                              std::string_view cod_ean, float val_pesquisa);

  // Requests refused because the service was busy, since construction.
  int Recusas() const { return recusas_; }

 private:
  RespostaSoap Chamar(std::string_view operacao, std::string corpo);

  ITransporte& transporte_;
  std::string caminho_;
  PoliticaOcupado ocupado_;
  int recusas_ = 0;
};

}  // namespace orv::sim
