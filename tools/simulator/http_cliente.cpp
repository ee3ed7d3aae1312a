// HTTP client of the simulator over Boost.Asio.
#include "http_cliente.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

#include "sim_limites.h"

#if defined(__linux__)
#include <netinet/in.h>
#endif

namespace orv::sim {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

bool IgualSemCaixa(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string_view Aparar(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::optional<std::size_t> LerTamanho(std::string_view s, int base) {
  s = Aparar(s);
  std::size_t v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (r.ec != std::errc() || s.empty()) return std::nullopt;
  // Chunk sizes may carry extensions after ';'.
  if (r.ptr != s.data() + s.size() && !(base == 16 && *r.ptr == ';')) return std::nullopt;
  return v;
}

struct Cabeca {
  HttpResposta resposta;
  std::size_t inicio_corpo = 0;
  std::optional<std::size_t> tamanho;
  bool chunked = false;
};

// Parses the status line and the headers; nullopt while the header block is not whole.
std::optional<Cabeca> LerCabeca(std::string_view bruto) {
  const std::size_t fim = bruto.find("\r\n\r\n");
  if (fim == std::string_view::npos) {
    if (bruto.size() > kMaxCabecalhos) throw ErroProtocolo("cabeçalhos da resposta longos demais");
    return std::nullopt;
  }
  if (fim > kMaxCabecalhos) throw ErroProtocolo("cabeçalhos da resposta longos demais");
  Cabeca c;
  c.inicio_corpo = fim + 4;
  std::string_view bloco = bruto.substr(0, fim);
  std::size_t eol = bloco.find("\r\n");
  const std::string_view linha = bloco.substr(0, eol);
  // "HTTP/1.x NNN reason"
  if (linha.size() < 12 || linha.substr(0, 7) != "HTTP/1." || linha[8] != ' ')
    throw ErroProtocolo("linha de status inválida: " + std::string(linha.substr(0, 80)));
  const std::string_view codigo = linha.substr(9, 3);
  if (!std::all_of(codigo.begin(), codigo.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
    throw ErroProtocolo("código de status inválido: " + std::string(linha.substr(0, 80)));
  c.resposta.status = (codigo[0] - '0') * 100 + (codigo[1] - '0') * 10 + (codigo[2] - '0');
  if (linha.size() > 12) c.resposta.motivo = std::string(Aparar(linha.substr(12)));
  while (eol != std::string_view::npos) {
    bloco.remove_prefix(eol + 2);
    eol = bloco.find("\r\n");
    const std::string_view h = bloco.substr(0, eol);
    const std::size_t dois_pontos = h.find(':');
    if (dois_pontos == std::string_view::npos || dois_pontos == 0)
      throw ErroProtocolo("linha de cabeçalho inválida: " + std::string(h.substr(0, 80)));
    c.resposta.cabecalhos.emplace_back(std::string(h.substr(0, dois_pontos)),
                                       std::string(Aparar(h.substr(dois_pontos + 1))));
  }
  const std::string te = c.resposta.Cabecalho("Transfer-Encoding");
  if (!te.empty()) {
    if (!IgualSemCaixa(te, "chunked")) throw ErroProtocolo("Transfer-Encoding desconhecido: " + te);
    c.chunked = true;
  } else {
    const std::string cl = c.resposta.Cabecalho("Content-Length");
    if (!cl.empty()) {
      c.tamanho = LerTamanho(cl, 10);
      if (!c.tamanho) throw ErroProtocolo("Content-Length inválido: " + cl);
      if (*c.tamanho > kMaxResposta) throw ErroProtocolo("resposta maior que o limite");
    }
  }
  return c;
}

std::string DecodificarChunked(std::string_view s) {
  std::string corpo;
  for (;;) {
    const std::size_t eol = s.find("\r\n");
    if (eol == std::string_view::npos) throw ErroProtocolo("corpo chunked incompleto");
    const auto n = LerTamanho(s.substr(0, eol), 16);
    if (!n) throw ErroProtocolo("tamanho de chunk inválido");
    s.remove_prefix(eol + 2);
    if (*n == 0) return corpo;
    if (s.size() < *n + 2 || s.substr(*n, 2) != "\r\n") throw ErroProtocolo("corpo chunked incompleto");
    if (corpo.size() + *n > kMaxResposta) throw ErroProtocolo("resposta maior que o limite");
    corpo.append(s.substr(0, *n));
    s.remove_prefix(*n + 2);
  }
}

}  // namespace

std::string HttpResposta::Cabecalho(std::string_view nome) const {
  for (const auto& [n, v] : cabecalhos) {
    if (IgualSemCaixa(n, nome)) return v;
  }
  return {};
}

std::string MontarPedidoHttp(const HttpPedido& pedido, std::string_view host_header) {
  std::string s;
  s.reserve(pedido.corpo.size() + 256);
  s += "POST ";
  s += pedido.caminho;
  s += " HTTP/1.1\r\nHost: ";
  s += host_header;
  s += "\r\nContent-Type: ";
  s += pedido.content_type;
  s += "\r\n";
  if (!pedido.soap_action.empty()) {
    s += "SOAPAction: \"";
    s += pedido.soap_action;
    s += "\"\r\n";
  }
  s += "Content-Length: ";
  s += std::to_string(pedido.corpo.size());
  s += "\r\nConnection: close\r\n\r\n";
  s += pedido.corpo;
  return s;
}

bool RespostaCompleta(std::string_view bruto) {
  const auto c = LerCabeca(bruto);
  return c && c->tamanho && bruto.size() - c->inicio_corpo >= *c->tamanho;
}

HttpResposta LerRespostaHttp(std::string_view bruto) {
  if (bruto.empty()) throw ErroProtocolo("o serviço fechou a conexão sem responder");
  auto c = LerCabeca(bruto);
  if (!c) throw ErroProtocolo("resposta sem fim de cabeçalhos");
  const std::string_view resto = bruto.substr(c->inicio_corpo);
  if (c->chunked) {
    c->resposta.corpo = DecodificarChunked(resto);
  } else if (c->tamanho) {
    if (resto.size() < *c->tamanho)
      throw ErroProtocolo("resposta incompleta: " + std::to_string(resto.size()) + " de " +
                          std::to_string(*c->tamanho) + " bytes");
    c->resposta.corpo = std::string(resto.substr(0, *c->tamanho));
  } else {
    c->resposta.corpo = std::string(resto);
  }
  return std::move(c->resposta);
}

struct TTransporteTcp::Impl {
  Destino destino;
  asio::io_context ctx;
  std::optional<asio::ssl::context> tls;   // with https
  std::optional<tcp::endpoint> alvo;
  std::optional<asio::ip::address> origem;
  std::string host_header;

  // Runs the context until `feito` or the deadline; on the deadline the socket is closed and
  // the pending operation ends with operation_aborted.
  void Aguardar(tcp::socket& s, const bool& feito, std::chrono::steady_clock::time_point limite) {
    ctx.restart();
    ctx.run_until(limite);
    if (!feito) {
      boost::system::error_code ignorado;
      s.close(ignorado);
      ctx.restart();
      ctx.run();
      throw ErroRede("tempo esgotado (" + std::to_string(destino.tempo_limite.count()) + " ms)");
    }
  }

  // Sends the request over `stream` (the socket itself, or TLS over it) and reads the answer.
  template <class Stream>
  std::string Trocar(tcp::socket& s, Stream& stream, const std::string& bytes,
                     std::chrono::steady_clock::time_point limite) {
    bool feito = false;
    boost::system::error_code erro;
    asio::async_write(stream, asio::buffer(bytes), [&](const boost::system::error_code& e, std::size_t) {
      erro = e;
      feito = true;
    });
    Aguardar(s, feito, limite);
    // A service that answers before reading the whole body (413, for one) may reset the
    // connection while we still send; its answer is read below all the same.
    const bool falha_envio = static_cast<bool>(erro);

    std::string recebido;
    std::vector<char> bloco(kBlocoLeitura);
    for (;;) {
      feito = false;
      std::size_t n = 0;
      stream.async_read_some(asio::buffer(bloco), [&](const boost::system::error_code& e, std::size_t lidos) {
        erro = e;
        n = lidos;
        feito = true;
      });
      Aguardar(s, feito, limite);
      recebido.append(bloco.data(), n);
      if (recebido.size() > kMaxResposta + kMaxCabecalhos) throw ErroProtocolo("resposta maior que o limite");
      // A TLS peer that closes without its close notification ends the stream all the same.
      if (erro == asio::error::eof || (erro == asio::ssl::error::stream_truncated && !recebido.empty())) break;
      if (erro) {
        if (recebido.empty())
          throw ErroRede(std::string(falha_envio ? "envio" : "leitura") + ": " + erro.message());
        break;   // a reset after a whole answer still leaves the answer readable
      }
      if (RespostaCompleta(recebido)) break;
    }
    return recebido;
  }

  // The TLS handshake over the connected socket: the certificate checked against the
  // authorities and the host (an address is checked against the certificate's addresses).
  void Apertar(tcp::socket& s, asio::ssl::stream<tcp::socket&>& t,
               std::chrono::steady_clock::time_point limite) {
    SSL* ssl = t.native_handle();
    boost::system::error_code ec;
    asio::ip::make_address(destino.host, ec);
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    if (!ec) {
      X509_VERIFY_PARAM_set1_ip_asc(param, destino.host.c_str());
    } else {
      SSL_set_tlsext_host_name(ssl, destino.host.c_str());   // the server name, for the balancer
      X509_VERIFY_PARAM_set1_host(param, destino.host.c_str(), 0);
    }
    t.set_verify_mode(asio::ssl::verify_peer);
    bool feito = false;
    boost::system::error_code erro;
    t.async_handshake(asio::ssl::stream_base::client, [&](const boost::system::error_code& e) {
      erro = e;
      feito = true;
    });
    Aguardar(s, feito, limite);
    if (erro) {
      std::string texto = "TLS com " + host_header + ": " + erro.message();
      const long v = SSL_get_verify_result(ssl);
      if (v != X509_V_OK) texto += " (" + std::string(X509_verify_cert_error_string(v)) + ")";
      throw ErroRede(texto);
    }
  }
};

TTransporteTcp::TTransporteTcp(Destino destino) : impl_(std::make_unique<Impl>()) {
  impl_->destino = std::move(destino);
  const Destino& d = impl_->destino;
  boost::system::error_code ec;
  const auto endereco = asio::ip::make_address(d.host, ec);
  if (!ec) {
    impl_->alvo = tcp::endpoint(endereco, d.porta);
  } else {
    tcp::resolver resolver(impl_->ctx);
    const auto r = resolver.resolve(d.host, std::to_string(d.porta), ec);
    if (ec || r.empty()) throw ErroRede("não foi possível resolver " + d.host + ": " + ec.message());
    impl_->alvo = r.begin()->endpoint();
  }
  if (!d.origem.empty()) {
    const auto o = asio::ip::make_address(d.origem, ec);
    if (ec) throw ErroRede("endereço de origem inválido: " + d.origem);
    impl_->origem = o;
  }
  if (d.https) {
    auto& t = impl_->tls.emplace(asio::ssl::context::tls_client);
    t.set_options(asio::ssl::context::no_sslv2 | asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                  asio::ssl::context::no_tlsv1_1);
    if (d.ca_arquivo.empty())
      t.set_default_verify_paths(ec);
    else
      t.load_verify_file(d.ca_arquivo, ec);
    if (ec)
      throw ErroRede("autoridades de certificação " + (d.ca_arquivo.empty() ? "do sistema" : d.ca_arquivo) + ": " +
                     ec.message());
  }
  impl_->host_header = d.host + ":" + std::to_string(d.porta);
}

TTransporteTcp::~TTransporteTcp() = default;

HttpResposta TTransporteTcp::Enviar(const HttpPedido& pedido) {
  Impl& m = *impl_;
  const auto limite = std::chrono::steady_clock::now() + m.destino.tempo_limite;
  tcp::socket s(m.ctx);
  boost::system::error_code ec;
  s.open(m.alvo->protocol(), ec);
  if (ec) throw ErroRede("socket: " + ec.message());
  if (m.origem) {
#if defined(__linux__) && defined(IP_BIND_ADDRESS_NO_PORT)
    // Choose the local port at connect time, per destination, so that many connections from
    // one address do not run out of ports.
    int um = 1;
    ::setsockopt(s.native_handle(), IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &um, sizeof um);
#endif
    s.bind(tcp::endpoint(*m.origem, 0), ec);
    if (ec) throw ErroRede("bind em " + m.destino.origem + ": " + ec.message());
  }

  bool feito = false;
  boost::system::error_code erro;
  s.async_connect(*m.alvo, [&](const boost::system::error_code& e) {
    erro = e;
    feito = true;
  });
  m.Aguardar(s, feito, limite);
  if (erro) throw ErroRede("conexão com " + m.host_header + ": " + erro.message());

  const std::string bytes = MontarPedidoHttp(pedido, m.host_header);
  std::string recebido;
  if (m.tls) {
    asio::ssl::stream<tcp::socket&> t(s, *m.tls);
    m.Apertar(s, t, limite);
    recebido = m.Trocar(s, t, bytes, limite);
  } else {
    recebido = m.Trocar(s, s, bytes, limite);
  }
  s.close(ec);
  return LerRespostaHttp(recebido);
}

}  // namespace orv::sim
