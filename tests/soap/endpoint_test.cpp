#include "soap/endpoint.h"
#include "soap/xml_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "soap/xml_reader.h"
#include "soap_fixture.h"
#include "util/text.h"

namespace orv::soap {
namespace {

using testing::CallFault;
using testing::Envelope;
using testing::kEnvOpen;
using testing::StubLog;

constexpr const char* kAuthAction = "\"urn:UOrvWsIntf-IOrvWs#Auth\"";

class EndpointTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::FillRegistry(registry, log); }

  testing::SoapAnswer Post(const std::string& body, const std::string& path = "/soap/IOrvWs",
                           const std::string& action = "",
                           const std::string& content_type = "text/xml") {
    return testing::Answer(testing::SoapPost(path, body, action, content_type), registry);
  }
  // Posts and expects a call-level fault with this (escaped) message.
  void ExpectFault(const std::string& body, const std::string& message,
                   const std::string& code = "SOAP-ENV:Server") {
    const testing::SoapAnswer r = Post(body);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, CallFault(message, code)) << body;
    EXPECT_EQ(log.made, 0) << "the operation must not run: " << body;
  }

  InterfaceRegistry registry;
  StubLog log;
};

std::string Response(const std::string& op, const std::string& ret) {
  return std::string(kEnvOpen) +
         "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" "
         "xmlns:NS1=\"urn:UOrvWsIntf-IOrvWs\"><NS1:" + op + "Response>" + ret + "</NS1:" + op +
         "Response></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

TEST_F(EndpointTest, WorkedExampleAuthentication) {
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
      "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><soap:Body "
      "soap:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><m:Auth "
      "xmlns:m=\"urn:UOrvWsIntf-IOrvWs\"><KeyValue xsi:type=\"xsd:string\">chave-123</KeyValue>"
      "<UserName xsi:type=\"xsd:string\">COLETOR1</UserName></m:Auth></soap:Body></soap:Envelope>";
  const testing::SoapAnswer r = Post(body, "/soap/IOrvWs", kAuthAction, "text/xml");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.content_type, "text/xml; charset=\"utf-8\"");
  EXPECT_EQ(r.body,
            "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
            "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
            "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\"><SOAP-ENV:Body "
            "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" "
            "xmlns:NS1=\"urn:UOrvWsIntf-IOrvWs\"><NS1:AuthResponse><return "
            "xsi:type=\"xsd:boolean\">true</return></NS1:AuthResponse></SOAP-ENV:Body>"
            "</SOAP-ENV:Envelope>");
  EXPECT_EQ(log.op, "Auth");
  EXPECT_EQ(log.args, (std::vector<std::string>{"chave-123", "COLETOR1"}));
  EXPECT_EQ(log.ip, "192.168.0.7");
  EXPECT_EQ(log.alive, 0);

  log.auth_result = false;
  EXPECT_EQ(Post(body, "/soap/IOrvWs", kAuthAction).body,
            Response("Auth", "<return xsi:type=\"xsd:boolean\">false</return>"));
}

TEST_F(EndpointTest, WorkedExampleDownloadScript) {
  log.text_result = "DELETE FROM PESQUISA;\r\nINSERT INTO PESQUISA VALUES ('a<b', 'c&d');";
  const std::string body =
      "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body><NS1:GetSQL "
      "xmlns:NS1=\"urn:UOrvWsIntf-IOrvWs\"><Value>1</Value></NS1:GetSQL></SOAP-ENV:Body>"
      "</SOAP-ENV:Envelope>";
  const testing::SoapAnswer r = Post(body, "/soap/IOrvWs", "", "text/xml");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.content_type, "text/xml; charset=\"utf-8\"");
  // The envelope around the answer is the one the authentication example spells out.
  EXPECT_EQ(r.body, Response("GetSQL",
                             "<return xsi:type=\"xsd:string\">DELETE FROM PESQUISA;\r\nINSERT INTO "
                             "PESQUISA VALUES ('a&lt;b', 'c&amp;d');</return>"));
  EXPECT_EQ(log.args, (std::vector<std::string>{"1"}));
}

TEST_F(EndpointTest, InterfaceChoice) {
  const std::string auth = Envelope("Auth", "<KeyValue>k</KeyValue>");
  struct Case {
    const char* path;
    const char* action;
    int status;
    const char* endpoint_message;  // nullptr: served
  };
  const Case cases[] = {
      {"/soap", "urn:UOrvWsIntf-IOrvWs#Auth", 200, nullptr},
      {"/soap", "", 500, "No interface  registered for URL '/soap'"},
      {"/soap/", "", 500, "No interface  registered for URL '/soap/'"},
      {"/soap/iorvws", "", 200, nullptr},
      {"/soap/IOrvWs", "\"\"", 200, nullptr},  // two quotes count as no action
      {"/soap", "\"\"", 500, "No interface  registered for URL '/soap'"},
      {"/soap/IOrvWs", "\"urn:Other#Auth\"",  500,
       "No interface  registered for soap action '\"urn:Other#Auth\"'"},
      {"/soap/IOrvWs", "urn:a&b<c>", 500,
       "No interface  registered for soap action 'urn:a&amp;b&lt;c&gt;'"},
      {"/soap/a<b&c", "", 500, "No interface  registered for URL '/soap/a&lt;b&amp;c'"},
      // The action picks the interface, the body picks the operation.
      {"/soap/IWSDLPublish", "urn:UOrvWsIntf-IOrvWs#GetSQL", 200, nullptr},
  };
  for (const auto& c : cases) {
    const testing::SoapAnswer r = Post(auth, c.path, c.action);
    EXPECT_EQ(r.status, c.status) << c.path << " " << c.action;
    EXPECT_EQ(r.content_type, "text/xml; charset=\"utf-8\"");
    if (c.endpoint_message) {
      EXPECT_EQ(r.body,
                std::string("<?xml version=\"1.0\" encoding='UTF-8'?> <SOAP-ENV:Envelope "
                            "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" >"
                            "<SOAP-ENV:Body> <SOAP-ENV:Fault> <faultcode>SOAP-ENV:Server"
                            "</faultcode><faultstring>") +
                    c.endpoint_message +
                    "</faultstring></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>");
    } else {
      EXPECT_EQ(log.op, "Auth") << c.path << " " << c.action;
      EXPECT_EQ(r.body, Response("Auth", "<return xsi:type=\"xsd:boolean\">true</return>"));
    }
    log.op.clear();
  }
}

TEST_F(EndpointTest, EnvelopeFaults) {
  const std::string env11 = "http://schemas.xmlsoap.org/soap/envelope/";
  struct Case {
    std::string body;
    std::string message;
    std::string code = "SOAP-ENV:Server";
  };
  const Case cases[] = {
      {"<Envelope xmlns=\"urn:not-soap\"><Body><Auth/></Body></Envelope>", "Invalid SOAP request"},
      {"<e:envelope xmlns:e=\"" + env11 + "\"><e:Body><Auth/></e:Body></e:envelope>",
       "Invalid SOAP request"},
      {"<e:Envelope xmlns:e=\"" + env11 + "\"/>", "Invalid SOAP request"},
      {"<e:Envelope xmlns:e=\"" + env11 + "\">  \r\n </e:Envelope>", "Invalid SOAP request"},
      {"<Auth/>", "Invalid SOAP request"},
      {"<e:Envelope xmlns:e=\"" + env11 + "\" e:encodingStyle=\"urn:other\"><e:Body><Auth/>"
       "</e:Body></e:Envelope>", "Unsupported SOAP encodingStyle urn:other"},
      {Envelope("Auth", "", "<SOAP-ENV:Header><Tx mustUnderstand=\"TRUE\"/></SOAP-ENV:Header>"),
       "Soap header Tx with attribute 'mustUnderstand' set to true was not handled",
       "SOAP-ENV:MustUnderstand"},
      {Envelope("Auth", "", "<SOAP-ENV:Header><a/><Tx mustUnderstand=\"1\"/></SOAP-ENV:Header>"),
       "Soap header Tx with attribute 'mustUnderstand' set to true was not handled",
       "SOAP-ENV:MustUnderstand"},
      {"<e:Envelope xmlns:e=\"" + env11 + "\"><e:Body><Auth/></e:Body><e:Body/></e:Envelope>",
       "Multiple body elements not supported"},
      {"<e:Envelope xmlns:e=\"" + env11 + "\"><e:Body><Logout/></e:Body></e:Envelope>",
       "No method named 'Logout' is supported by interface 'IOrvWs'"},
      {"<e:Envelope xmlns:e=\"" + env11 + "\"><e:Body><e:Auth e:encodingStyle=\"x\"/></e:Body>"
       "</e:Envelope>", "Unsupported SOAP encodingStyle x"},
      {Envelope("Auth", "<KeyValue SOAP-ENV:encodingStyle=\"y&amp;\">k</KeyValue>"),
       "Unsupported SOAP encodingStyle y&amp;"},
      // Our own messages for an Envelope without Body and a Body without an element.
      {"<e:Envelope xmlns:e=\"" + env11 + "\"><e:Header/></e:Envelope>",
       "The SOAP Envelope holds no Body element"},
      {"<e:Envelope xmlns:e=\"" + env11 + "\"><e:Body> text </e:Body></e:Envelope>",
       "The SOAP Body holds no operation element"},
      {"<e:Envelope xmlns:e=\"" + env11 + "\"><e:Body/></e:Envelope>",
       "The SOAP Body holds no operation element"},
  };
  for (const auto& c : cases) ExpectFault(c.body, c.message, c.code);
}

TEST_F(EndpointTest, TolerantEnvelopeReading) {
  // A Header entry without mustUnderstand (or with a prefixed one, or "0") is ignored; other
  // Envelope children are skipped; the Body's own encodingStyle is not tested; an encodingStyle
  // naming SOAP encoding is fine; further Body children are ignored.
  const std::string body =
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "e:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><e:Header><a/>"
      "<b mustUnderstand=\"0\"/><c e:mustUnderstand=\"1\"/></e:Header><Other/>"
      "<e:Body e:encodingStyle=\"urn:whatever\"><auth><keyvalue>k</keyvalue></auth><Exec/>"
      "</e:Body></e:Envelope>";
  const testing::SoapAnswer r = Post(body);
  EXPECT_EQ(r.body, Response("Auth", "<return xsi:type=\"xsd:boolean\">true</return>"));
  EXPECT_EQ(log.args, (std::vector<std::string>{"k", ""}));

  // SOAP 1.2 envelope: read alike, answered in SOAP 1.1.
  const std::string soap12 =
      "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Body>"
      "<GetSQL><Value>x</Value></GetSQL></env:Body></env:Envelope>";
  EXPECT_EQ(Post(soap12).body, Response("GetSQL", "<return xsi:type=\"xsd:string\">ok</return>"));
  EXPECT_EQ(log.args, (std::vector<std::string>{"x"}));
}

TEST_F(EndpointTest, ParametersByNameInAnyCaseAndOrder) {
  struct Case {
    std::string op;
    std::string params;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"Auth", "<UserName>u</UserName><KeyValue>k</KeyValue>", {"k", "u"}},
      {"Auth", "<username>u</username><KEYVALUE>k</KEYVALUE><KeyValue>later</KeyValue>",
       {"k", "u"}},
      {"Auth", "<x:KeyValue xmlns:x=\"urn:any\">k</x:KeyValue><Junk>j</Junk>", {"k", ""}},
      {"GetSQL", "<value>v</value>", {"v"}},
      {"GetSQL", "", {""}},
      {"GetSQL", "<Value>  spaced  </Value>", {"  spaced  "}},
      {"GetSQL", "<Value>   </Value>", {""}},  // whitespace-only text is dropped
      {"GetSQL", "<Value/>", {""}},
      {"GetSQL", "<Value>a &amp; b &lt;c&gt;</Value>", {"a & b <c>"}},
      {"GetSQL", "<Value><![CDATA[x<y]]></Value>", {"<![CDATA[x<y]]>"}},
      {"GetSQL", "<Value>a<![CDATA[b]]>c</Value>", {"a<![CDATA[b]]>c"}},
      {"GetSQL", "<Value>t<b k=\"1 &amp; 2\">u</b>v</Value>", {"t<b k=\"1 &amp; 2\">u</b>v"}},
      {"GetSQL", "<Value>1 &amp; <i/></Value>", {"1 &amp; <i/>"}},
      {"GetSQL", "<Value xsi:nil=\"true\"/>", {""}},
      {"GetSQL", "<Value>\xC3\xA7\xC3\xA3o \xE2\x82\xAC</Value>", {"\xC3\xA7\xC3\xA3o \xE2\x82\xAC"}},
      {"GetSQL", "<Value>&#x1F600;&#233;</Value>", {"\xF0\x9F\x98\x80\xC3\xA9"}},
      {"AddItemPesquisa",
       "<ValPesquisa>3.99</ValPesquisa><CodEan>789</CodEan><CodConcorrente> 0x10 </CodConcorrente>"
       "<CodPesquisa> 12 </CodPesquisa>",
       {"12", "16", "789", "3.990000"}},
      {"AddItemPesquisa", "<CodPesquisa>5</CodPesquisa>", {"5", "0", "", "0.000000"}},
      {"AddItemPesquisa",
       "<CodPesquisa xsi:nil=\"1\">junk</CodPesquisa><ValPesquisa xsi:NULL=\"TRUE\">x"
       "</ValPesquisa><CodEan xsi:nil=\"true\">e</CodEan>",
       {"0", "0", "e", "0.000000"}},
      // xsi:type is never consulted.
      {"AddItemPesquisa", "<CodPesquisa xsi:type=\"xsd:string\">$FF</CodPesquisa>",
       {"255", "0", "", "0.000000"}},
  };
  for (const auto& c : cases) {
    log.args.clear();
    const testing::SoapAnswer r = Post(Envelope(c.op, c.params));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(log.op, c.op) << c.params << "\n" << r.body;
    EXPECT_EQ(log.args, c.args) << c.params;
  }
}

TEST_F(EndpointTest, HrefTakesTheValueOfTheReferencedElement) {
  const std::string body =
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>"
      "<AddItemPesquisa><CodPesquisa href=\"#p1\"/><CodEan href=\"#nowhere\">own</CodEan>"
      "<CodConcorrente href=\"#p2\">9</CodConcorrente></AddItemPesquisa>"
      "<v id=\"p1\">42</v><v id=\"p2\">7</v><v id=\"p1\">99</v></e:Body></e:Envelope>";
  Post(body);
  EXPECT_EQ(log.cod_pesquisa, 42);
  EXPECT_EQ(log.cod_concorrente, 7);
  EXPECT_EQ(log.args[2], "own");
}

TEST_F(EndpointTest, ConversionFaults) {
  struct Case {
    std::string params;
    std::string message;
  };
  const Case cases[] = {
      {"<CodPesquisa>12a</CodPesquisa>", "''12a'' is not a valid integer value"},
      {"<CodPesquisa></CodPesquisa>", "'''' is not a valid integer value"},
      {"<CodConcorrente>2147483648</CodConcorrente>", "''2147483648'' is not a valid integer value"},
      {"<ValPesquisa/>", "'' is not a valid floating point value"},
      {"<ValPesquisa>3,99</ValPesquisa>", "'3,99' is not a valid floating point value"},
      {"<ValPesquisa>1e39</ValPesquisa>",
       "'1e39' is out of the range of a 32-bit floating point value"},
      {"<CodPesquisa>a&amp;b</CodPesquisa>", "''a&amp;b'' is not a valid integer value"},
      {"<CodPesquisa><x/></CodPesquisa>", "''&lt;x/&gt;'' is not a valid integer value"},
  };
  for (const auto& c : cases) ExpectFault(Envelope("AddItemPesquisa", c.params), c.message);
}

TEST_F(EndpointTest, OperationErrorsBecomeFaultsWithTheirMessage) {
  log.throw_message = "violation of PRIMARY or UNIQUE KEY constraint \"PK_X\" <&>";
  const testing::SoapAnswer r = Post(Envelope("GetSQL", "<Value>1</Value>"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body,
            CallFault("violation of PRIMARY or UNIQUE KEY constraint \"PK_X\" &lt;&amp;&gt;"));
  EXPECT_EQ(log.alive, 0);

  // A message that XML cannot carry still gives a well-formed fault.
  log.throw_message = "erro \xE9 \x01 fim";
  EXPECT_EQ(Post(Envelope("Exec", "")).body,
            CallFault("erro \xEF\xBF\xBD \xEF\xBF\xBD fim"));
}

// A script made in pieces is answered in pieces, byte for byte the envelope of the same script
// in one text: escapes and multi-byte characters at the pieces' edges, empty pieces.
TEST_F(EndpointTest, AScriptInPiecesGivesTheSameEnvelope) {
  const std::vector<std::vector<std::string>> cases = {
      {"DELETE FROM A;", "INSERT INTO A VALUES ('a<b');", "UPDATE A SET B = 'c&d';"},
      {"'\xc3\xa7'", "\xe2\x82\xac", ">"},
      {"", "x", "", "y;"},
  };
  for (const auto& parts : cases) {
    std::string joined;
    for (const auto& p : parts) joined += p;
    log.sql_parts = parts;
    host::TWebRequest request = testing::SoapPost("/soap/IOrvWs", Envelope("GetSQL", "<Value>1</Value>"));
    host::TWebResponse response;
    EXPECT_FALSE(HandleSoapRequest(request, response, registry));
    EXPECT_FALSE(response.ContentStream().has_value()) << "answered in one piece";
    const std::string pieces = response.BodyBytes();
    log.sql_parts.clear();
    log.text_result = joined;
    const testing::SoapAnswer one = Post(Envelope("GetSQL", "<Value>1</Value>"));
    EXPECT_EQ(pieces, one.body);
    EXPECT_NE(one.body.find(XmlWriter::EscapeText(joined) + "</return>"), std::string::npos);
  }
}

TEST_F(EndpointTest, ResultTextIsEscapedAndEmptyTextIsAnEmptyElement) {
  log.text_result = "";
  EXPECT_EQ(Post(Envelope("Exec", "<Value>x</Value>")).body,
            Response("Exec", "<return xsi:type=\"xsd:string\"/>"));
  log.text_result = "S;<ok>&\"'";
  EXPECT_EQ(Post(Envelope("Exec", "<Value>x</Value>")).body,
            Response("Exec", "<return xsi:type=\"xsd:string\">S;&lt;ok&gt;&amp;\"'</return>"));
}

TEST_F(EndpointTest, PublishingInterfaceListsPortTypesAsAnArray) {
  const std::string body =
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>"
      "<GetPortTypeList/></e:Body></e:Envelope>";
  const testing::SoapAnswer r = Post(body, "/soap/IWSDLPublish");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body,
            std::string(kEnvOpen) +
                "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" "
                "xmlns:NS1=\"http://orvws.local/namespaces/Types\"><NS1:GetPortTypeListResponse>"
                "<return xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"xsd:string[2]\">"
                "<item>IWSDLPublish</item><item>IOrvWs</item></return>"
                "</NS1:GetPortTypeListResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>");

  const std::string empty_list =
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>"
      "<gettypesystemslist/></e:Body></e:Envelope>";
  const testing::SoapAnswer e =
      Post(empty_list, "/soap", "\"http://orvws.local/namespaces/Types-IWSDLPublish\"");
  EXPECT_NE(e.body.find("<return xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"xsd:string[0]\"/>"),
            std::string::npos)
      << e.body;

  const std::string wsdl =
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>"
      "<GetWSDLForPortType><PortType>IOrvWs</PortType></GetWSDLForPortType></e:Body></e:Envelope>";
  EXPECT_NE(Post(wsdl, "/soap/IWSDLPublish").body.find(
                "<return xsi:type=\"xsd:string\">&lt;wsdl for=\"IOrvWs\"/&gt;</return>"),
            std::string::npos);
}

TEST_F(EndpointTest, ParseErrorsReportTheFirstErrorWithLineAndSourceText) {
  const std::string body =
      "<?xml version=\"1.0\"?>\r\n<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\">"
      "\r\n<e:Body><Auth>\n<KeyValue>k</Oops></Auth></e:Body></e:Envelope>";
  ExpectFault(body,
              "Opening and ending tag mismatch: KeyValue line 4 and Oops\r\nLine: 4\r\n"
              "&lt;KeyValue&gt;k&lt;/Oops&gt;&lt;/Auth&gt;&lt;/e:Body&gt;&lt;/e:En");
  struct Case {
    std::string body;
    std::string message;
  };
  const Case cases[] = {
      {"", "Document is empty\r\nLine: 1\r\n"},
      {"   ", "Start tag expected, '&lt;' not found\r\nLine: 1\r\n   "},
      {"<a/><b/>", "Extra content at the end of the document\r\nLine: 1\r\n&lt;a/&gt;&lt;b/&gt;"},
      {"<a>&nope;</a>", "Entity 'nope' not defined\r\nLine: 1\r\n&lt;a&gt;&amp;nope;&lt;/a&gt;"},
      {"<a>\xE9</a>", "Input is not proper UTF-8, indicate encoding !\nBytes: 0xE9 0x3C 0x2F 0x61"
                      "\r\nLine: 1\r\n&lt;a&gt;\xEF\xBF\xBD&lt;/a&gt;"},
  };
  for (const auto& c : cases) ExpectFault(c.body, c.message);

  // The source line is cut to its first characters, also from a body that is one long line
  // of bytes that are not UTF-8, and found by line in UTF-16.
  std::string cut;
  for (std::size_t i = 0; i < kFaultSourceLineChars; ++i) cut += "\xEF\xBF\xBD";
  EXPECT_NE(Post(std::string(4 << 20, '\xE9')).body.find("\r\nLine: 1\r\n" + cut +
                                                              "</faultstring>"),
            std::string::npos);
  std::string le = "\xFF\xFE";
  for (char c : std::string("<a>\r\n<b></a>")) le += {c, '\0'};
  EXPECT_NE(Post(le).body.find("\r\nLine: 2\r\n&lt;b&gt;&lt;/a&gt;</faultstring>"),
            std::string::npos)
      << Post(le).body;
}

TEST_F(EndpointTest, EncodingsDetectedFromBomAndDeclaration) {
  // UTF-16LE with a byte-order mark.
  const std::u16string u16 = util::Utf8ToUtf16(Envelope("GetSQL", "<Value>\xC3\xA7</Value>"));
  std::string le = "\xFF\xFE";
  for (char16_t c : u16) {
    le.push_back(static_cast<char>(c & 0xFF));
    le.push_back(static_cast<char>(c >> 8));
  }
  Post(le);
  EXPECT_EQ(log.args, (std::vector<std::string>{"\xC3\xA7"}));

  // Declared ISO-8859-1 and windows-1252.
  Post("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" +
       Envelope("GetSQL", "<Value>\xE7\xE3o</Value>").substr(21));
  EXPECT_EQ(log.args, (std::vector<std::string>{"\xC3\xA7\xC3\xA3o"}));
  Post("<?xml version=\"1.0\" encoding=\"windows-1252\"?>" +
       Envelope("GetSQL", "<Value>\x80</Value>").substr(21));
  EXPECT_EQ(log.args, (std::vector<std::string>{"\xE2\x82\xAC"}));

  // UTF-8 with a byte-order mark.
  Post("\xEF\xBB\xBF" + Envelope("GetSQL", "<Value>b</Value>"));
  EXPECT_EQ(log.args, (std::vector<std::string>{"b"}));
}

TEST_F(EndpointTest, DoctypesAndEntitiesAreRefused) {
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
      "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
      "<!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">"
      "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">"
      "<!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">"
      "<!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">"
      "<!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">"
      "<!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">"
      "<!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">"
      "<!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">]>" +
      Envelope("GetSQL", "<Value>&lol9;</Value>").substr(21);
  const std::string xxe =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE e [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>\n" +
      Envelope("GetSQL", "<Value>&x;</Value>").substr(21);
  const std::string external_dtd =
      "<!DOCTYPE e SYSTEM \"http://127.0.0.1:9/evil.dtd\">" + Envelope("GetSQL", "<Value/>");
  // Quadratic blowup: one big entity used many times, also inside an attribute value.
  std::string big(50000, 'a');
  std::string refs;
  for (int i = 0; i < 20000; ++i) refs += "&a;";
  const std::string quadratic = "<!DOCTYPE e [<!ENTITY a \"" + big + "\">]><e:Envelope " +
                                "xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\" x=\"" +
                                refs + "\"><e:Body><GetSQL><Value>" + refs +
                                "</Value></GetSQL></e:Body></e:Envelope>";
  const auto t0 = std::chrono::steady_clock::now();
  for (const std::string* body : {&laughs, &xxe, &external_dtd, &quadratic}) {
    const testing::SoapAnswer r = Post(*body);
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("<faultstring>DOCTYPE is not allowed in a SOAP message\r\nLine: "),
              std::string::npos)
        << r.body.substr(0, 400);
  }
  EXPECT_EQ(log.made, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_NE(Post(xxe).body.find("Line: 2\r\n&lt;!DOCTYPE e [&lt;!ENTITY x SYSTEM"), std::string::npos);
}

TEST_F(EndpointTest, DeepNestingIsRefusedAndWideDocumentsAreNot) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<d>";
  const testing::SoapAnswer r = Post(Envelope("GetSQL", "<Value>" + deep + "</Value>"));
  EXPECT_NE(r.body.find("<faultstring>Excessive depth in document: more than 256 nested elements"),
            std::string::npos)
      << r.body.substr(0, 300);

  std::string nested;  // 200 levels stay within the limit
  for (int i = 0; i < 200; ++i) nested += "<d>";
  for (int i = 0; i < 200; ++i) nested += "</d>";
  Post(Envelope("GetSQL", "<Value>" + nested + "</Value>"));
  std::string serialised = nested;  // the innermost element is written as an empty-element tag
  serialised.replace(199 * 3, 7, "<d/>");
  EXPECT_EQ(log.args, (std::vector<std::string>{serialised}));

  // An element with 200 000 attributes is refused before the parser reads it (the parser's
  // check of each attribute against the earlier ones would hold a core for minutes).
  std::string wide = "<Value";
  for (int i = 0; i < 200000; ++i) wide += " a" + std::to_string(i) + "='1'";
  const testing::SoapAnswer refused = Post(Envelope("GetSQL", wide + "/>"));
  EXPECT_EQ(refused.status, 200);
  EXPECT_NE(refused.body.find("<faultstring>Excessive attribute count in element: more than 256 "
                              "attributes\r\nLine: 1\r\n"),
            std::string::npos)
      << refused.body.substr(0, 400);

  // No size limit: a text value larger than the parser's default 10 MB bound is read.
  const std::string huge(12'000'000, 'x');
  Post(Envelope("Exec", "<Value>" + huge + "</Value>"));
  ASSERT_EQ(log.args.size(), 1u);
  EXPECT_EQ(log.args[0].size(), huge.size());
}

TEST_F(EndpointTest, MultipartRootPartIsTheEnvelope) {
  const std::string envelope = Envelope("GetSQL", "<Value>mime</Value>");
  const std::string body = "--MIME_b\r\nContent-Type: text/plain\r\nContent-ID: <att>\r\n\r\n"
                           "attachment\r\n--MIME_b\r\nContent-Type: text/xml\r\nContent-ID: "
                           "<root>\r\n\r\n" + envelope + "\r\n--MIME_b--\r\n";
  testing::SoapAnswer r = Post(body, "/soap/IOrvWs", "",
                        "multipart/related; boundary=MIME_b; type=\"text/xml\"; start=\"<root>\"");
  EXPECT_EQ(r.body, Response("GetSQL", "<return xsi:type=\"xsd:string\">ok</return>"));
  EXPECT_EQ(log.args, (std::vector<std::string>{"mime"}));

  // Without "start" the first part is the root.
  const std::string first = "--b\n\n" + envelope + "\n--b\nContent-ID: x\n\nother\n--b--";
  log.args.clear();
  Post(first, "/soap/IOrvWs", "", "Multipart/Related; boundary=\"b\"");
  EXPECT_EQ(log.args, (std::vector<std::string>{"mime"}));

  // A boundary whose own start repeats inside it, in a body full of near misses.
  const std::string tricky =
      "--aab\n\n" + envelope + "\n--aab\nContent-ID: x\n\n-aab\n--aaab\n--aa\naab\n--aab--";
  log.args.clear();
  Post(tricky, "/soap/IOrvWs", "", "multipart/related; boundary=aab");
  EXPECT_EQ(log.args, (std::vector<std::string>{"mime"})) << "the near misses are content";

  // A broken multipart body is a call-level fault.
  r = Post("no delimiter here", "/soap/IOrvWs", "", "multipart/related; boundary=zz");
  EXPECT_EQ(r.body, CallFault("Invalid MIME multipart/related message"));
}

// Echoes its caller's address, so that a mix-up between concurrent calls shows.
class EchoOrvWs : public IOrvWs {
 public:
  explicit EchoOrvWs(const CallContext& ctx) : ip_(ctx.ip_cliente) {}
  bool Auth(const std::string& KeyValue, const std::string&) override { return KeyValue == ip_; }
  std::string Exec(const std::string& Value) override { return ip_ + "|" + Value; }
  std::string GetSQL(const std::string& Value) override { return Exec(Value); }
  std::string AddItemPesquisa(std::int32_t, std::int32_t, const std::string&, float) override {
    return ip_;
  }

 private:
  std::string ip_;
};

TEST(EndpointConcurrency, ConcurrentCallsKeepTheirOwnContextAndInstance) {
  InterfaceRegistry registry;
  RegisterOrvWsInterface(registry);
  registry.RegisterInvokableClass(MakeInvokableClass<EchoOrvWs, IOrvWs>("TOrvWs"));
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 150; ++i) {
        const std::string ip = "10.0.0." + std::to_string(t);
        const std::string value = std::to_string(i);
        const testing::SoapAnswer resp = testing::Answer(
            testing::SoapPost("/soap/IOrvWs",
                              Envelope(i % 2 ? "Exec" : "GetSQL", "<Value>" + value + "</Value>"),
                              "", "", ip),
            registry);
        if (resp.body.find(">" + ip + "|" + value + "</return>") != std::string::npos) {
          ++good;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(good, 600);
}

}  // namespace
}  // namespace orv::soap
