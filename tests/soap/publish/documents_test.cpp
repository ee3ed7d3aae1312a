// The published documents byte for byte: the WSDL of IOrvWs, the WS-Inspection document, the
// service, listing and error pages; and the WSDL of IWSDLPublish read back by libxml2.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "soap/publish/port_file.h"
#include "soap/publish/registry_view.h"
#include "soap/publish/service_pages.h"
#include "soap/publish/wsdl_document.h"
#include "soap/publish/publish_fixture.h"

namespace orv::soap::publish {
namespace {

// An expected document, kept beside this test as the file golden/<name>.
std::string Golden(const std::string& name) {
  std::ifstream in(std::string(ORV_SOURCE_DIR) + "/tests/soap/publish/golden/" + name,
                   std::ios::binary);
  if (!in) throw std::runtime_error("missing expected document " + name);
  return std::string(std::istreambuf_iterator<char>(in), {});
}


// The style sheet lines of the listing and service pages.
const std::string kStyleSheet =
    "body       {font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 9pt; margin-left: 0px; margin-top: 0px; margin-right: 0px; }\r\n"
    "h1         {color: #333333; font-size: 18pt; font-style: normal; font-weight: bold; }\r\n"
    "h2         {color: #333333; font-size: 14pt; font-style: normal; font-weight: bold; }\r\n"
    "h3         {color: #333333; font-size: 12pt; font-style: normal; font-weight: bold; }\r\n"
    ".h1Style   {color: #333333; font-size: 18pt; font-style: normal; font-weight: bold; }\r\n"
    ".TblRow    {color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 10pt; font-weight: normal; }\r\n"
    ".TblRow1   {color: #333333; background-color: #f5f5dc; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 9pt; font-weight: normal; }\r\n"
    ".TblRow0   {color: #333333; background-color: #d9d4aa; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 9pt; font-weight: normal; }\r\n"
    ".TblHdr    {color: #CCCC99; background-color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 10pt; font-weight: bold; text-align: center;}\r\n"
    ".IntfName  {color: #660000; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 10pt; font-weight: bold; }\r\n"
    ".MethName  {color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 8pt; font-weight: bold; text-decoration: none; }\r\n"
    ".ParmName  {color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 8pt; text-decoration: none; }\r\n"
    ".Namespace {color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 9pt; font-style: italic; }\r\n"
    ".WSDL      {color: #990000; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 8pt; font-weight: bold; }\r\n"
    ".MainBkgnd {background-color : #d9d4aa; }\r\n"
    ".Info      {font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 12pt; font-weight: bold; }\r\n"
    ".NavBar    {color: #660000; background-color: #f5f5dc; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 8pt; font-weight: bold;text-decoration: none; }\r\n"
    ".Off       {color: #A0A0A0; }\r\n"
    ".Tip \t    {color: #666666; font-family : Verdana, Arial, Helvetica, sans-serif; font-weight : normal; font-size : 9pt; }\r\n";

const std::string kBannerStart =
    "<table class=\"MainBkgnd\" border=0 cellpadding=0 cellspacing=0 width=\"100%\"><tr><td>&nbsp;</td></tr>"
    "<tr><td class=\"h1Style\" align=\"center\">";

class PublishedDocuments : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::FillServiceRegistry(registry_);
    entries_ = PageOrder(RegisteredPortTypes(registry_));
  }
  const PortTypeEntry& Entry(std::string_view name) const {
    const PortTypeEntry* e = FindPortTypeIgnoringCase(entries_, name);
    EXPECT_NE(e, nullptr);
    return *e;
  }

  InterfaceRegistry registry_;
  std::vector<PortTypeEntry> entries_;
};

TEST_F(PublishedDocuments, WsdlOfIOrvWsIsExact) {
  EXPECT_EQ(WsdlDocument(Entry("IOrvWs"), {DefaultPort("IOrvWs", "http://srv01:8080")}),
            Golden("IOrvWs.wsdl"));   // for a Host header srv01:8080 and no port address file
}

TEST_F(PublishedDocuments, WsdlServiceHoldsEveryPortInOrder) {
  const std::string doc = WsdlDocument(
      Entry("IOrvWs"), {{"IOrvWsPort", "http://a/soap/IOrvWs"}, {"IOrvWsPort2", "http://b:81/x"}});
  EXPECT_NE(doc.find("  <service name=\"IOrvWsservice\">\n"
                     "    <port name=\"IOrvWsPort\" binding=\"tns:IOrvWsbinding\">\n"
                     "      <soap:address location=\"http://a/soap/IOrvWs\"/>\n"
                     "    </port>\n"
                     "    <port name=\"IOrvWsPort2\" binding=\"tns:IOrvWsbinding\">\n"
                     "      <soap:address location=\"http://b:81/x\"/>\n"
                     "    </port>\n"
                     "  </service>\n</definitions>"),
            std::string::npos)
      << doc;
  // Without ports (a call through the SOAP endpoint) the service stays, empty.
  EXPECT_NE(WsdlDocument(Entry("IOrvWs"), {}).find("  <service name=\"IOrvWsservice\"/>\n"),
            std::string::npos);
}

TEST_F(PublishedDocuments, AddressesFromTheRequestAreEscapedInTheWsdl) {
  const std::string doc = WsdlDocument(Entry("IOrvWs"), {DefaultPort("IOrvWs", "http://a\"<&")});
  EXPECT_NE(doc.find("location=\"http://a&quot;&lt;&amp;/soap/IOrvWs\""), std::string::npos);
}

// The publishing interface uses a list of text, which needs a schema: read the whole document
// back with libxml2 and check the pieces a WSDL 1.1 client relies on.
TEST_F(PublishedDocuments, WsdlOfIWSDLPublishDeclaresItsArrayType) {
  const std::string doc =
      WsdlDocument(Entry("IWSDLPublish"), {DefaultPort("IWSDLPublish", "http://h")});
  xmlDocPtr xml = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  ASSERT_NE(xml, nullptr) << doc;
  xmlFreeDoc(xml);

  EXPECT_NE(doc.find(" xmlns:ns1=\"http://orvws.local/namespaces/Types\">\n  <types>\n"
                     "    <xs:schema targetNamespace=\"http://orvws.local/namespaces/Types\" "
                     "xmlns:wsdl=\"http://schemas.xmlsoap.org/wsdl/\">\n"
                     "      <xs:import namespace=\"http://schemas.xmlsoap.org/soap/encoding/\"/>\n"
                     "      <xs:complexType name=\"ArrayOfString\">\n"
                     "        <xs:complexContent>\n"
                     "          <xs:restriction base=\"soapenc:Array\">\n"
                     "            <xs:sequence/>\n"
                     "            <xs:attribute ref=\"soapenc:arrayType\" wsdl:arrayType=\"xs:string[]\"/>\n"
                     "          </xs:restriction>\n"
                     "        </xs:complexContent>\n"
                     "      </xs:complexType>\n"
                     "    </xs:schema>\n  </types>\n"),
            std::string::npos)
      << doc;
  EXPECT_NE(doc.find("<message name=\"GetPortTypeList0Request\"/>"), std::string::npos);
  EXPECT_NE(doc.find("<part name=\"return\" type=\"ns1:ArrayOfString\"/>"), std::string::npos);
  EXPECT_NE(doc.find("<part name=\"PortType\" type=\"xs:string\"/>"), std::string::npos);
  EXPECT_NE(doc.find("<soap:operation soapAction=\"http://orvws.local/namespaces/"
                     "Types-IWSDLPublish\" style=\"rpc\"/>"),
            std::string::npos);
}

TEST_F(PublishedDocuments, InspectionDocumentIsExact) {
  EXPECT_EQ(InspectionDocument(entries_, "http://srv01:8080"),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<inspection xmlns=\"http://schemas.xmlsoap.org/ws/2001/10/inspection/\">"
            "<service><abstract/><name>IOrvWs</name>"
            "<description referencedNamespace=\"http://schemas.xmlsoap.org/wsdl/\" "
            "location=\"http://srv01:8080/wsdl/IOrvWs\"/></service>"
            "<service><abstract>Lists all the PortTypes published by this Service</abstract>"
            "<name>IWSDLPublish</name>"
            "<description referencedNamespace=\"http://schemas.xmlsoap.org/wsdl/\" "
            "location=\"http://srv01:8080/wsdl/IWSDLPublish\"/></service></inspection>");
}

TEST_F(PublishedDocuments, FullServicePageIsExact) {
  const std::string expected =
      "<html><head><META name=\"serviceInspection\" content=\"inspection.wsil\"><title>OrvWs</title>"
      "<style type=\"text/css\"><!--\r\n" +
      kStyleSheet + "--></style>\r\n</head><body>" + kBannerStart +
      "OrvWs - Service Info Page</td></tr></table>"
      "<br><table width=\"100%\" border=0 cellpadding=1 cellspacing=0>\r\n"
      "<tr><td width=\"1%\" class=\"Info\">&nbsp;</td><td width=\"99%\" class=\"Info\">\r\n"
      "OrvWs - PortTypes:</td></tr>\r\n"
      "<tr><td>&nbsp;</td><td>&nbsp;</td></tr>\r\n"
      "<tr><td width=\"1%\">&nbsp;</td><td width=\"99%\"><ul><li>\r\n"
      "<a class=\"IntfName\" href=\"http://srv01:8080?intf=IOrvWs\">IOrvWs</a>\r\n"
      "<span class=\"WSDL\">[</span><a class=\"WSDL\" href=\"http://srv01:8080/wsdl/IOrvWs\">WSDL</a>"
      "<span class=\"WSDL\">]</span>\r\n"
      "<ul><li><span class=\"MethName\">Auth</span></li></ul>"
      "<ul><li><span class=\"MethName\">Exec</span></li></ul>"
      "<ul><li><span class=\"MethName\">GetSQL</span></li></ul>"
      "<ul><li><span class=\"MethName\">AddItemPesquisa</span></li></ul>"
      "</li></ul></td></tr>"
      "<tr><td width=\"1%\">&nbsp;</td><td width=\"99%\"><ul><li>\r\n"
      "<a class=\"IntfName\" href=\"http://srv01:8080?intf=IWSDLPublish\">IWSDLPublish</a>\r\n"
      "<span class=\"WSDL\">[</span><a class=\"WSDL\" href=\"http://srv01:8080/wsdl/IWSDLPublish\">WSDL</a>"
      "<span class=\"WSDL\">]</span>\r\n"
      "<table><tr><td width=\"2%\">&nbsp;</td><td>\r\n"
      "<span class=\"Tip\">Lists all the PortTypes published by this Service</span></td></tr></table>\r\n"
      "<ul><li><span class=\"MethName\">GetPortTypeList</span></li></ul>"
      "<ul><li><span class=\"MethName\">GetWSDLForPortType</span></li></ul>"
      "<ul><li><span class=\"MethName\">GetTypeSystemsList</span></li></ul>"
      "<ul><li><span class=\"MethName\">GetXSDForTypeSystem</span></li></ul>"
      "</li></ul></td></tr>"
      "<tr><td width=\"1%\" class=\"Info\">&nbsp;</td><td width=\"99%\" class=\"Info\">\r\n"
      "WSIL:&nbsp;&nbsp;<span class=\"Tip\">Link to WS-Inspection document of Services "
      "<a href=\"http://srv01:8080/inspection.wsil\">here</a></span></td></tr>\r\n"
      "<tr><td>&nbsp;</td><td>&nbsp;</td></tr>\r\n"
      "</table></body></html>";
  EXPECT_EQ(ServicePage(entries_, "OrvWs", "http://srv01:8080", "", nullptr), expected);
}

TEST_F(PublishedDocuments, DetailOfIOrvWsIsExact) {
  const std::string section =
      "<br><table width=\"100%\" border=0 cellpadding=1 cellspacing=0>\r\n"
      "<tr><td width=\"1%\" class=\"Info\">&nbsp;</td><td width=\"99%\" class=\"Info\">\r\n"
      "<a href=\"http://srv01\">OrvWs</a>&nbsp;&gt;&nbsp;<span class=\"Off\">IOrvWs</span></td></tr>\r\n"
      "<tr><td>&nbsp;</td><td>&nbsp;</td></tr>\r\n"
      "<tr><td width=\"1%\">&nbsp;</td><td width=\"99%\"><ul><li>\r\n"
      "<span class=\"IntfName\">IOrvWs</span>\r\n"
      "<span class=\"WSDL\">[</span><a class=\"WSDL\" href=\"http://srv01/wsdl/IOrvWs\">WSDL</a>"
      "<span class=\"WSDL\">]</span>\r\n"
      "&nbsp;<span class=\"Namespace\">(urn:UOrvWsIntf-IOrvWs)</span>\r\n"
      "<table>\r\n"
      "<tr><td width=\"10%\" class=\"MethName\">&nbsp;</td><td class=\"ParmName\">boolean </td><td>"
      "<span class=\"MethName\">Auth(</span>"
      "<span class=\"MethName\"></span><span class=\"ParmName\">string</span><span class=\"MethName\">&nbsp;KeyValue</span>"
      "<span class=\"MethName\">, </span><span class=\"ParmName\">string</span><span class=\"MethName\">&nbsp;UserName</span>"
      "<span class=\"MethName\">)</span></td></tr>\r\n"
      "<tr><td width=\"10%\" class=\"MethName\">&nbsp;</td><td class=\"ParmName\">string </td><td>"
      "<span class=\"MethName\">Exec(</span>"
      "<span class=\"MethName\"></span><span class=\"ParmName\">string</span><span class=\"MethName\">&nbsp;Value</span>"
      "<span class=\"MethName\">)</span></td></tr>\r\n"
      "<tr><td width=\"10%\" class=\"MethName\">&nbsp;</td><td class=\"ParmName\">string </td><td>"
      "<span class=\"MethName\">GetSQL(</span>"
      "<span class=\"MethName\"></span><span class=\"ParmName\">string</span><span class=\"MethName\">&nbsp;Value</span>"
      "<span class=\"MethName\">)</span></td></tr>\r\n"
      "<tr><td width=\"10%\" class=\"MethName\">&nbsp;</td><td class=\"ParmName\">string </td><td>"
      "<span class=\"MethName\">AddItemPesquisa(</span>"
      "<span class=\"MethName\"></span><span class=\"ParmName\">int</span><span class=\"MethName\">&nbsp;CodPesquisa</span>"
      "<span class=\"MethName\">, </span><span class=\"ParmName\">int</span><span class=\"MethName\">&nbsp;CodConcorrente</span>"
      "<span class=\"MethName\">, </span><span class=\"ParmName\">string</span><span class=\"MethName\">&nbsp;CodEan</span>"
      "<span class=\"MethName\">, </span><span class=\"ParmName\">float</span><span class=\"MethName\">&nbsp;ValPesquisa</span>"
      "<span class=\"MethName\">)</span></td></tr>\r\n"
      "</table>\r\n"
      "</li></ul></td></tr></table>";
  EXPECT_EQ(PortTypeSection(entries_, "OrvWs", "http://srv01", "IOrvWs"), section);
}

TEST_F(PublishedDocuments, DetailShowsResultsWithoutXmlNameAndOperationsWithoutResult) {
  PortTypeEntry e{"IX", "urn:x", "", {}};
  PublishedOperation op;
  op.name = "Run";
  op.params.push_back(PublishedParam{"P", PublishedType{}, true, false});
  e.operations.push_back(op);
  const std::string section = PortTypeSection({e}, "P", "http://h", "IX");
  EXPECT_NE(section.find("<td class=\"ParmName\">void </td><td><span class=\"MethName\">Run(</span>"
                         "<span class=\"MethName\"></span><span class=\"ParmName\">?\?\?\?</span>"
                         "<span class=\"MethName\">&nbsp;P</span>"),
            std::string::npos)
      << section;
  EXPECT_EQ(PortTypeSection({}, "P", "http://h", ""), "");
}

TEST_F(PublishedDocuments, TypesTableListsEveryValueType) {
  const std::string table = TypesTable(RegisteredValueTypes());
  EXPECT_EQ(table.rfind("<a name=\"types\"></a><center><h3>Registered Types</h3>", 0), 0u);
  EXPECT_NE(table.find("<tr><td class=\"TblRow1\">std::string</td><td class=\"TblRow1\">string</td>"
                       "<td class=\"TblRow1\">http://www.w3.org/2001/XMLSchema</td>"
                       "<td class=\"TblRow1\"> (tkUnicodeString)</td><td class=\"TblRow1\">1</td>"
                       "<td class=\"TblRow1\">string</td></tr>"
                       "<tr><td class=\"TblRow0\">std::int32_t</td>"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("<td class=\"TblRow1\">ArrayOfString</td></tr></table></center>"),
            std::string::npos)
      << table;
  EXPECT_EQ(TypesTable({}), "");
}

TEST_F(PublishedDocuments, ListingPageIsExact) {
  const std::string expected =
      "<html><head><title>OrvWs</title><style type=\"text/css\"><!--\r\n" + kStyleSheet +
      "--></style>\r\n</head><body>" + kBannerStart +
      "OrvWs - WebService Listing</td></tr></table>\r\n"
      "<center><br>\r\n"
      "<table border=1 cellspacing=1 cellpadding=2 >\r\n"
      "<tr>\r\n"
      "<td class=\"TblHdr\">Port Type</td>\r\n"
      "<td class=\"TblHdr\">Namespace URI</td>\r\n"
      "<td class=\"TblHdr\">Documentation</td>\r\n"
      "<td class=\"TblHdr\">WSDL</td>\r\n"
      "</tr>\r\n"
      "<tr>\r\n"
      "<td class=\"TblRow\">IOrvWs</td>\r\n"
      "<td class=\"TblRow\">urn:UOrvWsIntf-IOrvWs</td>\r\n"
      "<td class=\"TblRow\">&nbsp;</td>\r\n"
      "<td class=\"TblRow\"><a href=\"http://srv01:8080/wsdl/IOrvWs\">IOrvWs</a></td>\r\n"
      "</tr>\r\n"
      "<tr>\r\n"
      "<td class=\"TblRow\">IWSDLPublish</td>\r\n"
      "<td class=\"TblRow\">http://orvws.local/namespaces/Types</td>\r\n"
      "<td class=\"TblRow\">Lists all the PortTypes published by this Service</td>\r\n"
      "<td class=\"TblRow\"><a href=\"http://srv01:8080/wsdl/IWSDLPublish\">IWSDLPublish</a></td>\r\n"
      "</tr>\r\n"
      "</table>\r\n"
      "</center>\r\n"
      "</body></html>\r\n";
  EXPECT_EQ(ListingPage(entries_, "OrvWs", "http://srv01:8080/wsdl"), expected);
}

TEST(ErrorPage, ShowsMessageAndTypeOrUnknownError) {
  const std::string head =
      "<html><head><style type=\"text/css\"><!--\r\n"
      "body       {font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 9pt; }\r\n" +
      kStyleSheet.substr(kStyleSheet.find("h1 ")) + "--></style>\r\n</head><body>";
  EXPECT_EQ(ErrorPage(std::make_exception_ptr(std::runtime_error("disk <full>"))),
            head + "<h1>Error: disk &lt;full&gt;/std::runtime_error</h1></body></html>");
  EXPECT_EQ(ErrorPage(std::make_exception_ptr(42)), head + "<h1>Unknown Error</h1></body></html>");
}

}  // namespace
}  // namespace orv::soap::publish
