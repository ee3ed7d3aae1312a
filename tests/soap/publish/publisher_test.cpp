// The publisher's decisions on "wsdl*" paths, the port address file, the service page handler
// through real web requests and responses, and the IWSDLPublish operations.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "host/web.h"
#include "host/web_module.h"
#include "soap/publish/base_url.h"
#include "soap/publish/port_file.h"
#include "soap/publish/publish_fixture.h"
#include "soap/publish/publish_limits.h"
#include "soap/publish/service_pages.h"
#include "soap/publish/web_publish.h"
#include "soap/publish/wsdl_publisher.h"
#include "util/mem_env.h"

namespace orv::soap::publish {
namespace {

using testing::kPortFile;

constexpr std::string_view kHtml = "text/html; charset=\"utf-8\"";
const std::string kForbiddenBody =
    "<html><head></head><body><h1>Forbidden (403)</h1><P>Access Forbidden</P></body></html>\r\n";

std::string NotFoundBody(std::string_view name) {
  return "<html><head></head><body><h1>Error Encountered</h1><P>Interface " + std::string(name) +
         " not found</P></body></html>\r\n";
}

class Publisher : public ::testing::Test {
 protected:
  void SetUp() override { testing::FillServiceRegistry(registry_); }

  PageReply Reply(std::string_view path) {
    return PublisherReply(path, "http://srv01:8080", registry_, testing::OrvWsSettings(env_));
  }

  InterfaceRegistry registry_;
  util::MemEnv mem_;   // no port address file unless a test puts one
  util::FaultyEnv env_{mem_};
};

TEST(PublisherPath, Decisions) {
  struct Case {
    std::string_view path;
    PublisherRoute route;
    std::string_view last;
    std::string_view previous;
  };
  const Case cases[] = {
      {"/wsdl", PublisherRoute::kListing, "wsdl", ""},
      {"/wsdl/", PublisherRoute::kListing, "wsdl", ""},
      {"/wsdl/IOrvWs", PublisherRoute::kWsdl, "IOrvWs", "wsdl"},
      {"/wsdl/IOrvWs/", PublisherRoute::kWsdl, "IOrvWs", "wsdl"},
      {"/wsdl/admin", PublisherRoute::kForbidden, "admin", "wsdl"},
      {"/wsdl/admin/IOrvWs", PublisherRoute::kForbidden, "IOrvWs", "admin"},
      {"/wsdl/a/IOrvWs", PublisherRoute::kNothing, "IOrvWs", "a"},
      {"/WSDL", PublisherRoute::kNothing, "WSDL", ""},
      {"/wsdlx", PublisherRoute::kNothing, "wsdlx", ""},
      {"/WSDL/IOrvWs", PublisherRoute::kNothing, "IOrvWs", "WSDL"},
      {"/wsdl/wsdl", PublisherRoute::kListing, "wsdl", "wsdl"},
      {"/wsdl//", PublisherRoute::kWsdl, "", "wsdl"},
  };
  for (const Case& c : cases) {
    const PublisherDecision d = DecidePublisherPath(c.path);
    EXPECT_EQ(d.route, c.route) << c.path;
    EXPECT_EQ(d.last_segment, c.last) << c.path;
    EXPECT_EQ(d.previous_segment, c.previous) << c.path;
  }
}

TEST_F(Publisher, AnswersEachPath) {
  struct Case {
    std::string_view path;
    std::optional<int> status;
    std::string_view content_type;
    std::string body_start;  // the body begins with this
    std::string body_end;    // and ends with this
  };
  const std::string listing_head = "<html><head><title>OrvWs</title>";
  const std::string wsdl_head = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<definitions ";
  const Case cases[] = {
      {"/wsdl", 200, kHtml, listing_head,
       "<a href=\"http://srv01:8080/wsdl/IWSDLPublish\">IWSDLPublish</a></td>\r\n</tr>\r\n"
       "</table>\r\n</center>\r\n</body></html>\r\n"},
      {"/wsdl/", 200, kHtml, listing_head, "</body></html>\r\n"},
      {"/wsdl/IOrvWs", std::nullopt, "text/xml", wsdl_head,
       "<port name=\"IOrvWsPort\" binding=\"tns:IOrvWsbinding\">\n"
       "      <soap:address location=\"http://srv01:8080/soap/IOrvWs\"/>\n"
       "    </port>\n  </service>\n</definitions>\r\n"},
      {"/wsdl/iorvws", std::nullopt, "text/xml", wsdl_head + "xmlns=\"http://schemas.xmlsoap.org/wsdl/\" "
       "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" name=\"IOrvWsservice\"",
       "<port name=\"iorvwsPort\" binding=\"tns:IOrvWsbinding\">\n"
       "      <soap:address location=\"http://srv01:8080/soap/iorvws\"/>\n"
       "    </port>\n  </service>\n</definitions>\r\n"},
      {"/wsdl/Nothing", 200, kHtml, NotFoundBody("Nothing"), ""},
      {"/wsdl/<b>x", 200, kHtml, NotFoundBody("&lt;b&gt;x"), ""},
      {"/wsdl/admin", 403, kHtml, kForbiddenBody, ""},
      {"/wsdl/admin/IOrvWs", 403, kHtml, kForbiddenBody, ""},
      {"/wsdl/a/IOrvWs", 200, "", "", ""},
      {"/WSDL", 200, "", "", ""},
      {"/wsdlx", 200, "", "", ""},
  };
  for (const Case& c : cases) {
    const PageReply r = Reply(c.path);
    EXPECT_EQ(r.status, c.status) << c.path;
    EXPECT_EQ(r.content_type, c.content_type) << c.path;
    EXPECT_EQ(r.body.rfind(c.body_start, 0), 0u) << c.path << "\n" << r.body;
    EXPECT_TRUE(r.body.ends_with(c.body_end)) << c.path << "\n" << r.body;
    if (c.body_start.empty()) {
      EXPECT_EQ(r.body, "") << c.path;
    }
  }
  EXPECT_EQ(Reply("/wsdl").body, Reply("/wsdl/").body);
}

TEST_F(Publisher, PortAddressFileGivesThePorts) {
  const std::string ini =
      "; ports of the service\r\n"
      "[Other]\r\nOtherPort=http://elsewhere/\r\n"
      "[IOrvWs]\r\n"
      "IOrvWsPort = http://pub.example:8080/soap/IOrvWs\r\n"
      "IOrvWsPort2=http://10.0.0.2/soap/IOrvWs\r\n"
      "[IOrvWs]\r\nIgnored=http://second-section/\r\n";
  mem_.PutFile(std::string(kPortFile), ini);
  for (std::string_view path : {"/wsdl/IOrvWs", "/wsdl/iorvws"}) {
    const PageReply r = Reply(path);
    EXPECT_NE(r.body.find("  <service name=\"IOrvWsservice\">\n"
                          "    <port name=\"IOrvWsPort\" binding=\"tns:IOrvWsbinding\">\n"
                          "      <soap:address location=\"http://pub.example:8080/soap/IOrvWs\"/>\n"
                          "    </port>\n"
                          "    <port name=\"IOrvWsPort2\" binding=\"tns:IOrvWsbinding\">\n"
                          "      <soap:address location=\"http://10.0.0.2/soap/IOrvWs\"/>\n"
                          "    </port>\n"
                          "  </service>\n"),
              std::string::npos)
        << r.body;
  }

  // A file without a section for the port type: the default port.
  mem_.PutFile(std::string(kPortFile), "[Other]\nA=b\n");
  EXPECT_NE(Reply("/wsdl/IOrvWs").body.find("location=\"http://srv01:8080/soap/IOrvWs\""),
            std::string::npos);
}

TEST_F(Publisher, FailureWhileBuildingGivesTheErrorPageWithStatusUnchanged) {
  testing::PortFileUnreadable(env_);
  const PageReply r = Reply("/wsdl/IOrvWs");
  EXPECT_EQ(r.status, std::nullopt);
  EXPECT_EQ(r.content_type, kHtml);
  EXPECT_EQ(r.body, ErrorPage("Cannot open /srv/orvws/OrvWs_WSDLADMIN.INI: Permission denied",
                              "std::runtime_error"));
  EXPECT_FALSE(r.body.ends_with("\r\n"));
  // The port file is read for WSDL documents only.
  EXPECT_EQ(Reply("/wsdl").status, 200);
}

TEST(PortFile, PathBesideTheExecutable) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"C:\\Servicos\\OrvWs.exe", "C:\\Servicos\\OrvWs_WSDLADMIN.INI"},
      {"/opt/orvws/OrvWs", "/opt/orvws/OrvWs_WSDLADMIN.INI"},
      {"/opt/orv.d/OrvWs", "/opt/orv.d/OrvWs_WSDLADMIN.INI"},
      {"/opt/orvws/OrvWs.bin.exe", "/opt/orvws/OrvWs.bin_WSDLADMIN.INI"},
  };
  for (const auto& [exe, ini] : cases) {
    EXPECT_EQ(PortFilePath(exe), ini) << exe;
  }
  const PublisherSettings s = PublisherSettings::ForExecutable("/opt/orvws/OrvWs.exe");
  EXPECT_EQ(s.program_name, "OrvWs");
  EXPECT_EQ(s.port_file, "/opt/orvws/OrvWs_WSDLADMIN.INI");
  EXPECT_EQ(PublisherSettings::ForExecutable("").port_file, "");
}

// The file's sections are read by the INI rules (tests/util/ini_test.cpp); the ports are the
// entries of the first section of the port type's name.
TEST(PortFile, SectionParsing) {
  const auto found = PortsFromIni("[Other]\nP0=x\n[iorvws]\nP1 = http://a\nP2=http://b=c\n", "IOrvWs");
  ASSERT_TRUE(found.has_value());
  std::vector<std::string> got;
  for (const PortAddress& p : *found) got.push_back(p.name + "=" + p.address);
  EXPECT_EQ(got, (std::vector<std::string>{"P1=http://a", "P2=http://b=c"}));
  EXPECT_EQ(PortsFromIni("[Other]\nP1=http://a\n", "IOrvWs"), std::nullopt);
  // An empty section falls back to the default port.
  util::MemEnv mem;
  mem.PutFile("x.ini", "[IOrvWs]\n");
  const auto ports = PortsFor(mem, "x.ini", "IOrvWs", "http://h");
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].name, "IOrvWsPort");
  EXPECT_EQ(ports[0].address, "http://h/soap/IOrvWs");
}

// The real file system: the file beside a (pretended) executable, present, absent, too large.
TEST_F(Publisher, RealPortFileBesideTheExecutable) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("orv_publish_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                    "_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
  std::filesystem::create_directories(dir);
  const PublisherSettings settings = PublisherSettings::ForExecutable((dir / "OrvWs.exe").string());
  ASSERT_EQ(settings.port_file, (dir / "OrvWs_WSDLADMIN.INI").string());

  auto wsdl = [&] { return PublisherReply("/wsdl/IOrvWs", "http://srv01", registry_, settings); };
  EXPECT_NE(wsdl().body.find("location=\"http://srv01/soap/IOrvWs\""), std::string::npos);

  std::ofstream(settings.port_file) << "[IOrvWs]\nIOrvWsPort=http://fixed:9000/soap/IOrvWs\n";
  EXPECT_NE(wsdl().body.find("location=\"http://fixed:9000/soap/IOrvWs\""), std::string::npos);
  EXPECT_EQ(wsdl().body.find("http://srv01"), std::string::npos);

  std::ofstream(settings.port_file) << std::string(kMaxPortFileBytes + 1, ';');
  const PageReply too_large = wsdl();
  EXPECT_EQ(too_large.status, std::nullopt);
  EXPECT_NE(too_large.body.find("<h1>Error: "), std::string::npos) << too_large.body;

  std::filesystem::remove_all(dir);
}

TEST(BaseUrl, FromHostAndPort) {
  EXPECT_EQ(BaseUrl("srv01", "8080"), "http://srv01:8080");
  EXPECT_EQ(BaseUrl("srv01", "80"), "http://srv01");
  const std::tuple<std::string_view, int, std::string_view> cases[] = {
      {"srv01:8080", 80, "http://srv01:8080"},
      {"srv01", 80, "http://srv01"},
      {"srv01", 8081, "http://srv01:8081"},
      {"srv01:80", 8080, "http://srv01"},
  };
  for (const auto& [host, port, url] : cases) {
    EXPECT_EQ(BaseUrlFromHostHeader(host, port), url) << host << " " << port;
  }
}

// Through the web request and response the listener hands on.
class WebComponent : public Publisher {
 protected:
  host::TWebRequest Request(std::string path, std::string host, int port) {
    host::TWebRequest r;
    r.method = "GET";
    r.path = std::move(path);
    r.headers.emplace_back("Host", host + ":" + std::to_string(port));
    return r;
  }
  TWSDLHTMLPublish Component() { return TWSDLHTMLPublish(registry_, testing::OrvWsSettings(env_)); }
};

TEST_F(WebComponent, DispatchFillsTheResponse) {
  auto publisher = Component();
  EXPECT_EQ(publisher.PathInfo(), "wsdl*");
  EXPECT_EQ(publisher.MethodType(), host::TMethodType::Any);

  auto req = Request("/wsdl/IOrvWs", "srv01", 80);
  host::TWebResponse resp;
  EXPECT_TRUE(publisher.DispatchRequest(req, resp));
  EXPECT_EQ(resp.StatusCode(), 200);
  EXPECT_EQ(resp.ContentType, "text/xml");
  EXPECT_NE(resp.BodyBytes().find("<soap:address location=\"http://srv01/soap/IOrvWs\"/>"),
            std::string::npos);

  auto admin = Request("/wsdl/admin", "srv01", 8080);
  host::TWebResponse forbidden;
  EXPECT_TRUE(publisher.DispatchRequest(admin, forbidden));
  EXPECT_EQ(forbidden.StatusCode(), 403);
  EXPECT_EQ(forbidden.ContentType, kHtml);
  EXPECT_EQ(forbidden.BodyBytes(), kForbiddenBody);

  auto other = Request("/wsdlx", "srv01", 8080);
  host::TWebResponse nothing;
  EXPECT_TRUE(publisher.DispatchRequest(other, nothing));
  EXPECT_EQ(nothing.StatusCode(), 200);
  EXPECT_EQ(nothing.ContentType, "");
  EXPECT_EQ(nothing.ContentLength(), 0);
}

TEST_F(WebComponent, ErrorPageKeepsTheStatusAndIsStillHandled) {
  testing::PortFileUnreadable(env_);
  auto publisher = Component();
  auto req = Request("/wsdl/IOrvWs", "srv01", 80);
  host::TWebResponse resp;
  resp.SetStatusCode(202);
  EXPECT_TRUE(publisher.DispatchRequest(req, resp));
  EXPECT_EQ(resp.StatusCode(), 202);
  EXPECT_EQ(resp.ContentType, kHtml);
  EXPECT_NE(resp.BodyBytes().find("<h1>Error: Cannot open"), std::string::npos);
}

TEST_F(WebComponent, ServiceInfoPageAndInspection) {
  auto publisher = Component();
  struct Case {
    std::string path;
    std::string intf;
    std::string types;
    std::string_view content_type;
    std::string_view contains;
    std::string_view absent;  // empty: nothing to check
  };
  const Case cases[] = {
      {"/", "", "", kHtml, "href=\"http://srv01:8080?intf=IOrvWs\"", "class=\"Off\""},
      {"/anything", "", "", kHtml, "OrvWs - PortTypes:", "Registered Types"},
      {"/", "iorvws", "", kHtml, "OrvWs - PortTypes:", "class=\"Off\""},
      {"/", "IOrvWs", "", kHtml, "<span class=\"Off\">IOrvWs</span>", "IWSDLPublish"},
      {"/", "", "1", kHtml, "</table></center></body></html>", ""},
      {"/INSPECTION.WSIL", "", "", "text/xml", "<name>IWSDLPublish</name>", ""},
      {"/inspection.wsil", "", "", "text/xml", "location=\"http://srv01:8080/wsdl/IOrvWs\"", ""},
  };
  for (const Case& c : cases) {
    auto req = Request(c.path, "srv01", 8080);
    if (!c.intf.empty()) req.query_params.emplace_back("intf", c.intf);
    if (!c.types.empty()) req.query_params.emplace_back("types", c.types);
    host::TWebResponse resp;
    bool handled = false;
    publisher.ServiceInfo(req, resp, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(resp.StatusCode(), 200);
    EXPECT_EQ(resp.ContentType, c.content_type) << c.path;
    const std::string body = resp.BodyBytes();
    EXPECT_NE(body.find(c.contains), std::string::npos) << c.path << " " << c.intf;
    if (!c.absent.empty()) {
      EXPECT_EQ(body.find(c.absent), std::string::npos) << c.path << " " << c.intf;
    }
  }
}

TEST_F(WebComponent, RequestTextIsEscapedInPages) {
  auto publisher = Component();
  auto req = Request("/wsdl", "evil\"><script>", 80);
  host::TWebResponse resp;
  publisher.DispatchRequest(req, resp);
  const std::string body = resp.BodyBytes();
  EXPECT_EQ(body.find("<script>"), std::string::npos);
  EXPECT_NE(body.find("href=\"http://evil&quot;&gt;&lt;script&gt;/wsdl/IOrvWs\""), std::string::npos);
}

// Wired into the real web module: which requests reach the publisher and the service page.
TEST_F(WebComponent, RoutedByTheWebModule) {
  host::TWebModuleComponents components;
  AddPublisher(components, std::make_unique<TWSDLHTMLPublish>(
                               registry_, testing::OrvWsSettings(env_)));
  host::TWebModulePrincipal module(std::move(components));
  struct Case {
    std::string method;
    host::TMethodType type;
    std::string path;
    int status;
    std::string_view content_type;
    std::string_view contains;
  };
  const Case cases[] = {
      {"GET", host::TMethodType::Get, "/wsdl/IOrvWs", 200, "text/xml", "<definitions "},
      {"POST", host::TMethodType::Post, "/wsdl/IOrvWs", 200, "text/xml", "<definitions "},
      {"DELETE", host::TMethodType::Any, "/wsdl/admin", 403, kHtml, "Forbidden (403)"},
      {"GET", host::TMethodType::Get, "/wsdl", 200, kHtml, "WebService Listing"},
      {"GET", host::TMethodType::Get, "/", 200, kHtml, "Service Info Page"},
      {"GET", host::TMethodType::Get, "/soap/IOrvWs", 200, kHtml, "Service Info Page"},
      {"HEAD", host::TMethodType::Head, "/Inspection.WSIL", 200, "text/xml", "<inspection "},
  };
  for (const Case& c : cases) {
    auto req = Request(c.path, "srv01", 8080);
    req.method = c.method;
    EXPECT_EQ(req.MethodType(), c.type) << c.method;
    host::TWebResponse resp;
    EXPECT_TRUE(module.Dispatch(req, resp)) << c.path;
    EXPECT_EQ(resp.StatusCode(), c.status) << c.method << " " << c.path;
    EXPECT_EQ(resp.ContentType, c.content_type) << c.method << " " << c.path;
    EXPECT_NE(resp.BodyBytes().find(c.contains), std::string::npos) << c.method << " " << c.path;
  }
}

TEST_F(Publisher, WSDLPublishOperations) {
  TWSDLPublish publish(registry_);
  EXPECT_EQ(publish.GetPortTypeList(), (std::vector<std::string>{"IWSDLPublish", "IOrvWs"}));

  const std::string wsdl = publish.GetWSDLForPortType("iorvws");
  EXPECT_EQ(wsdl.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<definitions ", 0), 0u);
  EXPECT_NE(wsdl.find("  <service name=\"IOrvWsservice\"/>\n</definitions>"), std::string::npos);
  EXPECT_EQ(publish.GetWSDLForPortType("Nothing"), "");

  EXPECT_EQ(publish.GetTypeSystemsList(),
            (std::vector<std::string>{"http://www.w3.org/2001/XMLSchema",
                                      "http://orvws.local/namespaces/Types"}));
  const std::string xsd = publish.GetXSDForTypeSystem("http://orvws.local/namespaces/Types");
  EXPECT_NE(xsd.find("<xs:complexType name=\"ArrayOfString\">"), std::string::npos) << xsd;
  EXPECT_EQ(publish.GetXSDForTypeSystem("http://www.w3.org/2001/XMLSchema"),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
            "targetNamespace=\"http://www.w3.org/2001/XMLSchema\"/>");
  EXPECT_EQ(publish.GetXSDForTypeSystem("urn:none"), "");
}

TEST(WSDLPublishRegistration, RegistryMakesAFreshPublisherPerCall) {
  InterfaceRegistry registry;
  RegisterWSDLPublish(registry);
  RegisterOrvWsInterface(registry);
  const InterfacePtr intf = registry.FindBySoapAction("\"http://orvws.local/namespaces/Types-IWSDLPublish\"");
  ASSERT_NE(intf, nullptr);
  EXPECT_EQ(intf->name, "IWSDLPublish");
  const Invokable a = intf->MakeInstance(CallContext{});
  const Invokable b = intf->MakeInstance(CallContext{});
  ASSERT_NE(a.As<IWSDLPublish>(), nullptr);
  EXPECT_NE(a.As<IWSDLPublish>(), b.As<IWSDLPublish>());
  EXPECT_EQ(a.As<IWSDLPublish>()->GetPortTypeList(),
            (std::vector<std::string>{"IWSDLPublish", "IOrvWs"}));
}

}  // namespace
}  // namespace orv::soap::publish
