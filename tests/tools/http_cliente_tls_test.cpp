// The simulator's https: against a one-shot TLS peer on loopback whose certificate the test
// makes (an authority and a server certificate naming one address), the answer is read when
// the certificate is signed by the given authority and names the address connected to, and
// every other case is a network error that says why.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

#include "http_cliente.h"

namespace orv::sim {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

struct Chave {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> p{EVP_EC_gen("P-256"), &EVP_PKEY_free};
};
using Certificado = std::unique_ptr<X509, decltype(&X509_free)>;

std::string Pem(X509* c) {
  std::unique_ptr<BIO, decltype(&BIO_free)> b(BIO_new(BIO_s_mem()), &BIO_free);
  PEM_write_bio_X509(b.get(), c);
  char* dados = nullptr;
  const long n = BIO_get_mem_data(b.get(), &dados);
  return std::string(dados, static_cast<std::size_t>(n));
}

std::string Pem(EVP_PKEY* k) {
  std::unique_ptr<BIO, decltype(&BIO_free)> b(BIO_new(BIO_s_mem()), &BIO_free);
  PEM_write_bio_PrivateKey(b.get(), k, nullptr, nullptr, 0, nullptr, nullptr);
  char* dados = nullptr;
  const long n = BIO_get_mem_data(b.get(), &dados);
  return std::string(dados, static_cast<std::size_t>(n));
}

// A certificate for `chave` named `cn`, signed by `emissor` (itself when null) with
// `chave_emissor`, with the given extensions ("subjectAltName" = "IP:127.0.0.1", ...).
Certificado Emitir(EVP_PKEY* chave, const char* cn, X509* emissor, EVP_PKEY* chave_emissor,
                   std::initializer_list<std::pair<int, const char*>> extensoes) {
  Certificado c(X509_new(), &X509_free);
  X509_set_version(c.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c.get()), cn[0]);
  X509_gmtime_adj(X509_getm_notBefore(c.get()), -60);
  X509_gmtime_adj(X509_getm_notAfter(c.get()), 3600);
  X509_set_pubkey(c.get(), chave);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(c.get()), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509* e = emissor ? emissor : c.get();
  X509_set_issuer_name(c.get(), X509_get_subject_name(e));
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, e, c.get(), nullptr, nullptr, 0);
  for (const auto& [nid, valor] : extensoes) {
    X509_EXTENSION* x = X509V3_EXT_conf_nid(nullptr, &ctx, nid, valor);
    X509_add_ext(c.get(), x, -1);
    X509_EXTENSION_free(x);
  }
  X509_sign(c.get(), chave_emissor, EVP_sha256());
  return c;
}

// An authority, and a server certificate it signs for the address `endereco`.
struct Pki {
  explicit Pki(const std::string& endereco) {
    ca = Emitir(chave_ca.p.get(), "Autoridade de teste", nullptr, chave_ca.p.get(),
                {{NID_basic_constraints, "critical,CA:TRUE"}, {NID_key_usage, "critical,keyCertSign"}});
    const std::string san = "IP:" + endereco;
    servidor = Emitir(chave_servidor.p.get(), "servidor", ca.get(), chave_ca.p.get(),
                      {{NID_subject_alt_name, san.c_str()}});
  }
  Chave chave_ca, chave_servidor;
  Certificado ca{nullptr, &X509_free};
  Certificado servidor{nullptr, &X509_free};
};

// Accepts one connection on 127.0.0.1, does the TLS handshake with the certificate, reads the
// request's headers and answers.
class PeerTls {
 public:
  PeerTls(const Pki& pki, std::string resposta)
      : tls_(asio::ssl::context::tls_server), acceptor_(ctx_, {asio::ip::make_address("127.0.0.1"), 0}) {
    const std::string cert = Pem(pki.servidor.get());
    const std::string chave = Pem(pki.chave_servidor.p.get());
    tls_.use_certificate_chain(asio::buffer(cert));
    tls_.use_private_key(asio::buffer(chave), asio::ssl::context::pem);
    thread_ = std::thread([this, resposta] {
      boost::system::error_code ec;
      asio::ssl::stream<tcp::socket> s(ctx_, tls_);
      acceptor_.accept(s.lowest_layer(), ec);
      if (ec) return;
      s.handshake(asio::ssl::stream_base::server, ec);
      if (ec) return;
      std::string pedido;
      char buf[4096];
      while (pedido.find("\r\n\r\n") == std::string::npos) {
        const std::size_t n = s.read_some(asio::buffer(buf), ec);
        if (ec) return;
        pedido.append(buf, n);
      }
      asio::write(s, asio::buffer(resposta), ec);
      s.shutdown(ec);
    });
  }
  ~PeerTls() {
    boost::system::error_code ec;
    acceptor_.close(ec);
    thread_.join();
  }
  unsigned short Porta() const { return acceptor_.local_endpoint().port(); }

 private:
  asio::io_context ctx_;
  asio::ssl::context tls_;
  tcp::acceptor acceptor_;
  std::thread thread_;
};

class SimTls : public ::testing::Test {
 protected:
  // The authority's certificate in a PEM file.
  std::string ArquivoCa(const Pki& pki) {
    const auto caminho = std::filesystem::temp_directory_path() /
                         ("orvws-sim-tls-" + std::to_string(::getpid()) + "-" + std::to_string(++arquivos_) + ".pem");
    std::ofstream(caminho) << Pem(pki.ca.get());
    criados_.push_back(caminho);
    return caminho.string();
  }
  void TearDown() override {
    for (const auto& c : criados_) std::filesystem::remove(c);
  }
  static Destino Https(unsigned short porta, std::string ca) {
    Destino d{"127.0.0.1", porta, "", std::chrono::milliseconds(5000)};
    d.https = true;
    d.ca_arquivo = std::move(ca);
    return d;
  }

 private:
  int arquivos_ = 0;
  std::vector<std::filesystem::path> criados_;
};

TEST_F(SimTls, AnswerReadOverTlsWithTheGivenAuthority) {
  const Pki pki("127.0.0.1");
  PeerTls peer(pki, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
  TTransporteTcp t(Https(peer.Porta(), ArquivoCa(pki)));
  const HttpResposta r = t.Enviar(HttpPedido{});
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.corpo, "ok");
}

TEST_F(SimTls, CertificatesThatDoNotFitAreNetworkErrorsSayingWhy) {
  const Pki certo("127.0.0.1");
  const Pki outro_endereco("127.0.0.2");
  const Pki outra_autoridade("127.0.0.1");
  struct Caso {
    const char* nome;
    const Pki& servidor;
    std::string ca;   // empty: the system's authorities
    const char* motivo;
  } casos[] = {
      {"another authority of the same name", outra_autoridade, ArquivoCa(certo), "certificate signature failure"},
      {"the system's authorities", certo, "", "unable to get local issuer certificate"},
      {"another address", outro_endereco, ArquivoCa(outro_endereco), "IP address mismatch"},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nome);
    PeerTls peer(c.servidor, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    TTransporteTcp t(Https(peer.Porta(), c.ca));
    try {
      t.Enviar(HttpPedido{});
      ADD_FAILURE() << "answered";
    } catch (const ErroRede& e) {
      EXPECT_NE(std::string(e.what()).find(c.motivo), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(TTransporteTcp(Https(1, "/nonexistent/ca.pem")), ErroRede);
}

}  // namespace
}  // namespace orv::sim
