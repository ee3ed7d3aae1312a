// The simulator's HTTP side: one POST per connection, as a handheld sends it, from a chosen
// local address, with a deadline for the whole exchange; and the reading of the answer.
//
// Thread safety: a TTransporteTcp serves one thread at a time (each collector has its own);
// MontarPedidoHttp and LerRespostaHttp are pure and may run on any thread.
#pragma once

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::sim {

// The connection could not be made, broke, or the deadline passed.
class ErroRede : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The bytes received are not an HTTP answer, or break a limit.
class ErroProtocolo : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct HttpPedido {
  std::string caminho = "/soap/IOrvWs";
  std::string soap_action;   // without quotes; empty: no SOAPAction header
  std::string content_type = "text/xml; charset=utf-8";
  std::string corpo;
};

struct HttpResposta {
  int status = 0;
  std::string motivo;
  std::vector<std::pair<std::string, std::string>> cabecalhos;
  std::string corpo;
  // Value of the first header of that name (compared without regard to ASCII case); "" if none.
  std::string Cabecalho(std::string_view nome) const;
};

// Sends one request and returns the whole answer. Throws ErroRede or ErroProtocolo.
class ITransporte {
 public:
  virtual ~ITransporte() = default;
  virtual HttpResposta Enviar(const HttpPedido& pedido) = 0;
};

struct Destino {
  std::string host = "127.0.0.1";
  unsigned short porta = 8080;
  std::string origem;   // local address to bind ("" lets the system choose)
  std::chrono::milliseconds tempo_limite{30000};
  // TLS (https): the service's certificate must be signed by an authority of `ca_arquivo` (a
  // PEM file; empty: the system's authorities) and name `host`, as a host name or an address.
  bool https = false;
  std::string ca_arquivo;
};

// Real TCP through Boost.Asio: connect (from `origem` when given), with https the TLS handshake,
// send, read until the answer is whole or the service closes. The deadline covers the whole
// exchange. A certificate the authorities do not sign, or that names another host, is ErroRede;
// so is a CA file that cannot be read (at construction).
class TTransporteTcp final : public ITransporte {
 public:
  explicit TTransporteTcp(Destino destino);
  ~TTransporteTcp() override;
  HttpResposta Enviar(const HttpPedido& pedido) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The request bytes: POST, Host, Content-Type, SOAPAction (quoted), Content-Length,
// Connection: close, then the body.
std::string MontarPedidoHttp(const HttpPedido& pedido, std::string_view host_header);

// Reads a whole answer received up to the service's close: status line, headers, body by
// Content-Length, chunked, or up to the end. Throws ErroProtocolo (also for a body shorter than
// its Content-Length).
HttpResposta LerRespostaHttp(std::string_view bruto);
// True when `bruto` already holds a whole answer with a Content-Length (so reading may stop
// before the service closes).
bool RespostaCompleta(std::string_view bruto);

}  // namespace orv::sim
