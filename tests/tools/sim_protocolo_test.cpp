// HTTP answers, SOAP envelopes and the TCP transport of the simulator.
#include <gtest/gtest.h>

#include <tuple>

#include <boost/asio.hpp>

#include <atomic>
#include <thread>

#include "http_cliente.h"
#include "soap_cliente.h"

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

constexpr const char* kAbre =
    "<?xml version=\"1.0\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\"><SOAP-ENV:Body "
    "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" xmlns:NS1=\"urn:UOrvWsIntf-IOrvWs\">";
constexpr const char* kFecha = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

TEST(SimSoap, ReadsResultsAndFaults) {
  // The body of an envelope as the service writes it.
  const auto ler = [](const std::string& corpo) {
    return LerEnvelope(std::string(kAbre) + corpo + kFecha);
  };
  const RespostaSoap r = ler(
      "<NS1:GetSQLResponse><return xsi:type=\"xsd:string\">A &amp; B &lt;c&gt;;</return>"
      "</NS1:GetSQLResponse>");
  EXPECT_EQ(std::tie(r.falha, r.operacao, r.tipo, r.retorno),
            std::make_tuple(false, "GetSQLResponse", "xsd:string", "A & B <c>;"));
  const RespostaSoap f = ler(
      "<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode><faultstring>Pesquisa &amp; erro"
      "</faultstring><faultactor/></SOAP-ENV:Fault>");
  EXPECT_EQ(std::tie(f.falha, f.codigo_falha, f.texto_falha),
            std::make_tuple(true, "SOAP-ENV:Server", "Pesquisa & erro"));
}

TEST(SimSoap, RefusesWhatIsNotAnEnvelopeAndNeverExpandsEntities) {
  const std::string casos[] = {
      "",
      "Maximum number of concurrent connections exceeded.  Please try again later",
      "<a><b></a>",
      "<Envelope xmlns=\"urn:outro\"><Body><x/></Body></Envelope>",
      std::string(kAbre) + kFecha,                                           // empty Body
      std::string(kAbre) + "<NS1:AuthResponse/>" + kFecha,                  // no return
      // An entity from a DOCTYPE would put local content into the result.
      "<?xml version=\"1.0\"?><!DOCTYPE e [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>"
      "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
      "<AuthResponse><return>&x;</return></AuthResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>",
  };
  for (const std::string& c : casos) {
    SCOPED_TRACE(c);
    EXPECT_THROW(LerEnvelope(c), ErroProtocolo);
  }
}

TEST(SimSoap, EnvelopesEscapeValuesAndWriteFloatsAsTheyRead) {
  const std::string auth = EnvelopeAuth("k", "a&b<c>\"d");
  EXPECT_NE(auth.find("<UserName xsi:type=\"xsd:string\">a&amp;b&lt;c&gt;&quot;d</UserName>"), std::string::npos);
  EXPECT_NE(EnvelopeExec("x\r\ny").find(">x&#13;\ny<"), std::string::npos);
  const std::string add = EnvelopeAddItemPesquisa(7, -2, "7891234567895", 3.99f);
  for (const char* parte : {"<m:AddItemPesquisa xmlns:m=\"urn:UOrvWsIntf-IOrvWs\">",
                            "<CodPesquisa xsi:type=\"xsd:int\">7</CodPesquisa>",
                            "<CodConcorrente xsi:type=\"xsd:int\">-2</CodConcorrente>",
                            "<CodEan xsi:type=\"xsd:string\">7891234567895</CodEan>",
                            "<ValPesquisa xsi:type=\"xsd:float\">3.99</ValPesquisa>"}) {
    EXPECT_NE(add.find(parte), std::string::npos) << parte;
  }
  EXPECT_EQ(TextoFloat(99999.99f), "99999.99");
  EXPECT_EQ(TextoFloat(1.0f), "1");
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
