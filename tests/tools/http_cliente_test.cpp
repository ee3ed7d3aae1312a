// HTTP answers and requests and the TCP transport of the simulator.
#include "http_cliente.h"

#include <gtest/gtest.h>

#include <boost/asio.hpp>

#include <atomic>
#include <thread>

namespace orv::sim {
namespace {

TEST(SimHttp, ReadsAnswersAndRefusesBrokenOnes) {
  struct Caso {
    const char* bruto;
    int status;        // 0: ErroProtocolo expected
    const char* corpo;
  };
  const Caso casos[] = {
      {"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 5\r\n\r\nabcde", 200, "abcde"},
      {"HTTP/1.1 200 OK\r\ncontent-length: 3\r\n\r\nabcdef", 200, "abc"},
      {"HTTP/1.1 500 Internal Server Error\r\n\r\nsem tamanho", 500, "sem tamanho"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2;x=1\r\nde\r\n0\r\n\r\n", 200, "abcde"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", 0, ""},          // cut short
      {"HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\nabc", 0, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n", 0, ""},                 // no header end
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nab", 0, ""},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", 0, ""},
      {"HTTP/1.1 2x0 OK\r\n\r\n", 0, ""},
      {"SSH-2.0-OpenSSH\r\n\r\n", 0, ""},
      {"HTTP/1.1 200 OK\r\nsem dois pontos\r\n\r\n", 0, ""},
      {"", 0, ""},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.bruto);
    if (c.status == 0) {
      EXPECT_THROW(LerRespostaHttp(c.bruto), ErroProtocolo);
    } else {
      const HttpResposta r = LerRespostaHttp(c.bruto);
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.corpo, c.corpo);
    }
  }
  EXPECT_TRUE(RespostaCompleta("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nab"));
  EXPECT_FALSE(RespostaCompleta("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\na"));
  EXPECT_FALSE(RespostaCompleta("HTTP/1.1 200 OK\r\n\r\nab"));   // read to the end instead
}

TEST(SimHttp, RequestCarriesQuotedActionLengthAndClose) {
  HttpPedido p;
  p.soap_action = "urn:UOrvWsIntf-IOrvWs#Auth";
  p.corpo = "<x/>";
  EXPECT_EQ(MontarPedidoHttp(p, "127.0.0.1:8080"),
            "POST /soap/IOrvWs HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nContent-Type: text/xml; charset=utf-8\r\n"
            "SOAPAction: \"urn:UOrvWsIntf-IOrvWs#Auth\"\r\nContent-Length: 4\r\nConnection: close\r\n\r\n<x/>");
}

// A one-shot TCP peer on loopback: accepts one connection, records the peer address and
// reacts as told.
class PeerUnico {
 public:
  enum class Modo { kResponder, kFecharSemResponder, kCalar };
  explicit PeerUnico(Modo modo, std::string resposta = {})
      : acceptor_(ctx_, {boost::asio::ip::make_address("127.0.0.1"), 0}) {
    thread_ = std::thread([this, modo, resposta] {
      boost::system::error_code ec;
      boost::asio::ip::tcp::socket s(ctx_);
      acceptor_.accept(s, ec);
      if (ec) return;
      peer_ = s.remote_endpoint(ec).address().to_string();
      std::string pedido;
      char buf[4096];
      while (pedido.find("\r\n\r\n") == std::string::npos) {
        const std::size_t n = s.read_some(boost::asio::buffer(buf), ec);
        if (ec) return;
        pedido.append(buf, n);
      }
      if (modo == Modo::kResponder) boost::asio::write(s, boost::asio::buffer(resposta), ec);
      if (modo == Modo::kCalar) {
        while (!parar_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      s.close(ec);
    });
  }
  ~PeerUnico() {
    parar_ = true;
    boost::system::error_code ec;
    acceptor_.close(ec);
    thread_.join();
  }
  unsigned short Porta() const { return acceptor_.local_endpoint().port(); }
  std::string Peer() {
    parar_ = true;
    thread_.join();
    thread_ = std::thread([] {});
    return peer_;
  }

 private:
  boost::asio::io_context ctx_;
  boost::asio::ip::tcp::acceptor acceptor_;
  std::atomic<bool> parar_{false};
  std::string peer_;
  std::thread thread_;
};

TEST(SimTransporte, ConnectsFromTheChosenLoopbackAddress) {
  PeerUnico peer(PeerUnico::Modo::kResponder, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  TTransporteTcp t({"127.0.0.1", peer.Porta(), "127.0.0.42", std::chrono::milliseconds(5000)});
  const HttpResposta r = t.Enviar(HttpPedido{});
  EXPECT_EQ(r.corpo, "ok");
  EXPECT_EQ(peer.Peer(), "127.0.0.42");
}

TEST(SimTransporte, SilenceEndsAtTheDeadlineAndACloseIsNoAnswer) {
  {
    PeerUnico peer(PeerUnico::Modo::kCalar);
    TTransporteTcp t({"127.0.0.1", peer.Porta(), "", std::chrono::milliseconds(300)});
    const auto inicio = std::chrono::steady_clock::now();
    EXPECT_THROW(t.Enviar(HttpPedido{}), ErroRede);
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(5));
  }
  {
    PeerUnico peer(PeerUnico::Modo::kFecharSemResponder);
    TTransporteTcp t({"127.0.0.1", peer.Porta(), "", std::chrono::milliseconds(5000)});
    EXPECT_THROW(t.Enviar(HttpPedido{}), ErroProtocolo);
  }
  {
    boost::asio::io_context ctx;
    boost::asio::ip::tcp::acceptor fechado(ctx, {boost::asio::ip::make_address("127.0.0.1"), 0});
    const unsigned short porta = fechado.local_endpoint().port();
    fechado.close();
    TTransporteTcp t({"127.0.0.1", porta, "", std::chrono::milliseconds(5000)});
    EXPECT_THROW(t.Enviar(HttpPedido{}), ErroRede);
  }
}

}  // namespace
}  // namespace orv::sim
