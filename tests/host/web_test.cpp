// The web request as the web module reads it, from the fields the reader filled (every
// accessor on requests read from real bytes), and the web response's own behaviour.
#include <gtest/gtest.h>

#include "host/http_request.h"
#include "host/web.h"

namespace orv::host {
namespace {

TWebRequest Parse(const std::string& bytes) {
  HttpRequestReader r;
  HttpRequestReader::Status s = r.Feed(bytes);
  if (s == HttpRequestReader::Status::LengthCheck) s = r.FinishLengthCheck(false);
  EXPECT_EQ(s, HttpRequestReader::Status::Complete) << bytes;
  TWebRequest p = r.request();
  p.peer_address = "10.1.2.3";
  p.local_port = 8080;
  return p;
}

TEST(WebRequest, FieldsFromTheWire) {
  const TWebRequest r =
      Parse("post /soap/I%20OrvWs?wsdl HTTP/1.1\r\nHost: srv:9090\r\n"
            "Content-Type: text/xml; charset=ISO-8859-1; action=\"urn:x\"\r\n"
            "Cookie: s=1; t=2\r\nUser-Agent: coletor\r\nREMOTE_HOST: rh\r\n"
            "CONTENT_VERSION: 7\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\nExpires: never\r\n"
            "Authorization: Basic dTpw\r\nContent-Length: 2\r\n\r\n\xE7\xE3");
  EXPECT_EQ(r.Method(), "POST");
  EXPECT_EQ(r.MethodType(), TMethodType::Post);
  EXPECT_EQ(r.ProtocolVersion(), "HTTP/1.1");
  EXPECT_EQ(r.URL(), "");
  EXPECT_EQ(r.PathInfo(), "/soap/I OrvWs");
  EXPECT_EQ(r.RawPathInfo(), "/soap/I%20OrvWs");
  EXPECT_EQ(r.Query(), "wsdl");
  EXPECT_EQ(r.Host(), "srv");
  EXPECT_EQ(r.ServerPort(), 9090);
  EXPECT_EQ(r.RemoteIP(), "10.1.2.3");
  EXPECT_EQ(r.RemoteAddr(), "10.1.2.3");
  EXPECT_EQ(r.RemoteHost(), "rh");
  EXPECT_EQ(r.ContentType(), "text/xml; action=urn:x");
  EXPECT_EQ(r.ContentLength(), 2);
  EXPECT_EQ(r.RawContent(), "\xE7\xE3");
  EXPECT_EQ(r.Content(), "\xC3\xA7\xC3\xA3");   // read in its charset
  EXPECT_EQ(r.UserAgent(), "coletor");
  EXPECT_EQ(r.ContentVersion(), "7");
  EXPECT_GT(r.Date(), 34644);
  EXPECT_EQ(r.Expires(), -1);
  EXPECT_EQ(r.Authorization(), "Basic dTpw");
  EXPECT_EQ(r.AuthUserName(), "u");
  EXPECT_EQ(r.AuthPassword(), "p");
  EXPECT_EQ(r.CookieFields().Values("t"), "2");
  EXPECT_EQ(r.QueryFields().Values("wsdl"), "");
  EXPECT_TRUE(r.QueryFields().Contains("wsdl"));
  EXPECT_EQ(r.IpCliente, "");   // set by the web module, not the reader
}

TEST(WebRequest, HostPortAndContentVariants) {
  const struct {
    std::string request;
    std::string host;
    int port;
    std::string content;
  } cases[] = {
      {"GET /?a=%41 HTTP/1.1\r\nHost: plain\r\n\r\n", "plain", 8080, "a=%41"},
      {"GET / HTTP/1.1\r\nHost: [::1]:81\r\n\r\n", "[::1]", 81, ""},
      {"GET / HTTP/1.1\r\nHost: h:x\r\n\r\n", "h", -1, ""},
      {"POST / HTTP/1.1\r\nHost: h\r\nContent-Type: Application/X-WWW-Form-Urlencoded\r\n"
       "Content-Length: 7\r\n\r\nk=v+w&z",
       "h", 8080, "k=v+w&z"},
  };
  for (const auto& c : cases) {
    const TWebRequest r = Parse(c.request);
    EXPECT_EQ(r.Host(), c.host) << c.request;
    EXPECT_EQ(r.ServerPort(), c.port) << c.request;
    EXPECT_EQ(r.Content(), c.content) << c.request;
  }
  const TWebRequest form = Parse(cases[3].request);
  EXPECT_EQ(form.ContentFields().Values("k"), "v w");
  EXPECT_TRUE(form.ContentFields().Contains("z"));
}

TEST(WebResponse, StatusSendingAndLength) {
  int sends = 0;
  TWebResponse r("HTTP/1.0", [&] { ++sends; });
  EXPECT_EQ(r.StatusCode(), 200);
  EXPECT_EQ(r.ReasonString, "OK");
  EXPECT_EQ(r.ContentType, "text/html");
  EXPECT_EQ(r.Version(), "HTTP/1.0");
  r.SetStatusCode(414);
  EXPECT_EQ(r.ReasonString, "Request-URI Too Long. 256 Chars max");
  r.SetStatusCode(299);
  EXPECT_EQ(r.ReasonString, "Unknown Response Code");
  r.ContentType = "text/plain; charset=utf-8";
  r.SetContent("\xC3\xA9");
  EXPECT_EQ(r.ContentLength(), 2);
  r.SetContentStream("12345");
  EXPECT_EQ(r.Content(), "");
  EXPECT_EQ(r.ContentLength(), 5);
  EXPECT_FALSE(r.Sent());
  r.SendRedirect("/there");
  r.SendResponse();
  EXPECT_EQ(sends, 1);
  EXPECT_TRUE(r.Sent());
  EXPECT_EQ(r.StatusCode(), 302);
  EXPECT_EQ(r.Location, "/there");
}

TEST(WebRequest, FieldLookupIgnoresCase) {
  TWebRequest r;
  r.headers = {{"Content-Type", "text/xml"}, {"X-Num", "12"}, {"X-Bad", "1a"},
               {"If-Modified-Since", "Sun, 06 Nov 1994 08:49:37 GMT"}};
  EXPECT_EQ(r.GetFieldByName("content-TYPE"), "text/xml");
  EXPECT_TRUE(r.HasField("x-num"));
  EXPECT_EQ(r.GetFieldByName("missing"), "");
  EXPECT_EQ(r.GetIntegerField("X-NUM"), 12);
  EXPECT_EQ(r.GetIntegerField("x-bad"), -1);
  EXPECT_GT(r.GetDateField("if-modified-since"), 34644);
  EXPECT_EQ(r.GetDateField("x-num"), -1);
  TNameValueList l;
  l.Add("A", "1");
  l.SetValue("a", "2");
  EXPECT_EQ(l.Count(), 1u);
  EXPECT_EQ(l.Values("A"), "2");
}

}  // namespace
}  // namespace orv::host
