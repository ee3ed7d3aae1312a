// The publisher behind the real listener, bridge and web module, on a loopback socket: the
// documents reach the client byte for byte, also on a host whose code page is not UTF-8.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/raw_client.h"
#include "host/server_fixture.h"
#include "host/web_module.h"
#include "soap/publish/publish_fixture.h"
#include "soap/publish/web_publish.h"
#include "util/mem_env.h"
#include "util/regional.h"

namespace orv::soap::publish {
namespace {

class PublisherOverHttp : public orv::host::test::ServerFixture {
 protected:
  // The service with the port address file `port_file` ("": none).
  void StartWith(const std::string& port_file) {
    if (!port_file.empty()) mem_.PutFile(std::string(testing::kPortFile), port_file);
    testing::FillServiceRegistry(registry_);
    settings_ = testing::OrvWsSettings(mem_);
    handler_ = std::make_unique<host::TWebRequestHandler>();
    handler_->SetWebModuleClass(host::WebModulePrincipalClass([this] {
      host::TWebModuleComponents c;
      AddPublisher(c, std::make_unique<TWSDLHTMLPublish>(registry_, settings_));
      return c;
    }));
    host::TWebRequestHandler* h = handler_.get();
    StartServer([h](host::HttpExchange& ex) { host::ServeWebRequest(*h, ex); });
  }
  void TearDown() override {
    ServerFixture::TearDown();
    util::SetRegional(saved_regional_);
  }

  util::MemEnv mem_;
  InterfaceRegistry registry_;
  PublisherSettings settings_;
  util::RegionalSettings saved_regional_ = util::Regional();
};

TEST_F(PublisherOverHttp, WsdlAndForbiddenPageOnTheWire) {
  // A Brazilian host: its code page must not touch the UTF-8 of a document sent as text/xml.
  util::SetRegional(util::RegionalPtBR());
  StartWith("[IOrvWs]\nIOrvWsPort=http://caf\xC3\xA9.example/soap/IOrvWs\n");

  const std::string wsdl = PublisherReply("/wsdl/IOrvWs", "http://srv01:8080", registry_, settings_).body;
  ASSERT_NE(wsdl.find("caf\xC3\xA9"), std::string::npos);
  EXPECT_EQ(orv::testing::Exchange(port_, "GET /wsdl/IOrvWs HTTP/1.1\r\nHost: srv01:8080\r\n\r\n"),
            // The listener names the character set of a text/xml type set without one.
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/xml; charset=us-ascii\r\n"
            "Content-Length: " +
                std::to_string(wsdl.size()) + "\r\n\r\n" + wsdl);

  const std::string forbidden =
      "<html><head></head><body><h1>Forbidden (403)</h1><P>Access Forbidden</P></body></html>\r\n";
  EXPECT_EQ(orv::testing::Exchange(port_, "POST /wsdl/admin HTTP/1.1\r\nHost: srv01\r\n"
                                        "Content-Length: 0\r\n\r\n"),
            "HTTP/1.1 403 Forbidden\r\nConnection: close\r\nContent-Type: text/html; charset=utf-8\r\n"
            "Content-Length: " + std::to_string(forbidden.size()) + "\r\n\r\n" + forbidden);
}

TEST_F(PublisherOverHttp, ServicePageAndInspectionOnTheWire) {
  StartWith("");
  const std::string page = orv::testing::Exchange(port_, "GET /?intf=IOrvWs HTTP/1.1\r\nHost: srv01\r\n\r\n");
  EXPECT_EQ(page.rfind("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html; charset=utf-8\r\n", 0), 0u)
      << page;
  // Without a port in the Host header, the port the request arrived on.
  EXPECT_NE(page.find("<a href=\"http://srv01:" + std::to_string(port_) +
                      "\">OrvWs</a>&nbsp;&gt;&nbsp;<span class=\"Off\">IOrvWs</span>"),
            std::string::npos)
      << page;
  const std::string wsil = orv::testing::Exchange(port_, "GET /INSPECTION.WSIL HTTP/1.1\r\nHost: srv01:81\r\n\r\n");
  EXPECT_NE(wsil.find("Content-Type: text/xml; charset=us-ascii\r\n"), std::string::npos) << wsil;
  EXPECT_NE(wsil.find("location=\"http://srv01:81/wsdl/IWSDLPublish\""), std::string::npos);
}

}  // namespace
}  // namespace orv::soap::publish
