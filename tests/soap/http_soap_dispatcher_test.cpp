#include "soap/http_soap_dispatcher.h"

#include <gtest/gtest.h>

#include "util/regional.h"
#include "soap_fixture.h"

namespace orv::soap {
namespace {

using testing::Envelope;
using testing::StubLog;

host::TWebRequest WebPost(const std::string& path, const std::string& body) {
  return testing::SoapPost(path, body, "", "text/xml", "10.1.2.3");
}

TEST(HTTPSoapDispatcher, AdaptsWebRequestAndResponse) {
  InterfaceRegistry registry;
  StubLog log;
  testing::FillRegistry(registry, log);
  const THTTPSoapDispatcher d(registry);
  EXPECT_EQ(d.MethodType(), host::TMethodType::Post);
  EXPECT_EQ(d.PathInfo(), "soap*");

  host::TWebRequest req = WebPost("/soap", Envelope("GetSQL", "<Value>v</Value>"));
  req.headers = {{"soapaction", "\"urn:UOrvWsIntf-IOrvWs#GetSQL\""}};
  host::TWebResponse resp;
  EXPECT_TRUE(d.Dispatch(req, resp));
  EXPECT_EQ(resp.StatusCode(), 200);
  EXPECT_EQ(resp.ContentType, "text/xml; charset=\"utf-8\"");
  ASSERT_TRUE(resp.ContentStream().has_value());
  EXPECT_NE(resp.ContentStream()->find("<NS1:GetSQLResponse>"), std::string::npos);
  EXPECT_EQ(log.ip, "10.1.2.3");

  // HTTP_SOAPACTION stands in for an empty SOAPAction header.
  req.headers = {{"SOAPAction", ""}, {"HTTP_SOAPACTION", "urn:Other"}};
  host::TWebResponse fault;
  EXPECT_TRUE(d.Dispatch(req, fault));
  EXPECT_EQ(fault.StatusCode(), 500);
  EXPECT_EQ(fault.ContentType, "text/xml; charset=\"utf-8\"");
  EXPECT_NE(fault.Content().find("No interface  registered for soap action 'urn:Other'"),
            std::string::npos);
  EXPECT_EQ(fault.BodyBytes(), fault.Content());

  // The endpoint-level fault text goes out as UTF-8 whatever the host's code page.
  const auto saved = util::Regional();
  util::SetRegional(util::RegionalPtBR());
  req.headers = {{"SOAPAction", "urn:A\xC3\xA7\xC3\xA3o"}};
  host::TWebResponse accented;
  d.Dispatch(req, accented);
  util::SetRegional(saved);
  EXPECT_NE(accented.BodyBytes().find("soap action 'urn:A\xC3\xA7\xC3\xA3o'"), std::string::npos);

  // A call-level fault keeps status 200 and is sent as bytes.
  host::TWebRequest bad = WebPost("/soap/IOrvWs", "<oops");
  host::TWebResponse call_fault;
  EXPECT_TRUE(d.Dispatch(bad, call_fault));
  EXPECT_EQ(call_fault.StatusCode(), 200);
  EXPECT_NE(call_fault.BodyBytes().find("<faultcode>SOAP-ENV:Server</faultcode>"),
            std::string::npos);
}

}  // namespace
}  // namespace orv::soap
