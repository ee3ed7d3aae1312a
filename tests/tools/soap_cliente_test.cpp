// SOAP envelopes as the simulator reads and writes them.
#include "soap_cliente.h"

#include <gtest/gtest.h>

#include <tuple>

namespace orv::sim {
namespace {

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

}  // namespace
}  // namespace orv::sim
