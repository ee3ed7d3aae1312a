// The bridge between HTTP and the web layer: building the web request, sending the web
// response, and the request handler's pool of module sets.
#include <gtest/gtest.h>

#include <future>

#include "host/http_request.h"
#include "host/web_bridge.h"
#include "server_fixture.h"
#include "util/regional.h"

namespace orv::host {
namespace {

ParsedRequest Parse(const std::string& bytes) {
  HttpRequestReader r;
  HttpRequestReader::Status s = r.Feed(bytes);
  if (s == HttpRequestReader::Status::LengthCheck) s = r.FinishLengthCheck(false);
  EXPECT_EQ(s, HttpRequestReader::Status::Complete) << bytes;
  ParsedRequest p = r.request();
  p.peer_address = "10.1.2.3";
  p.local_port = 8080;
  return p;
}

TEST(WebRequestBuild, FieldsFromTheHttpRequest) {
  const TWebRequest r = BuildWebRequest(
      Parse("post /soap/I%20OrvWs?wsdl HTTP/1.1\r\nHost: srv:9090\r\n"
            "Content-Type: text/xml; charset=ISO-8859-1; action=\"urn:x\"\r\n"
            "Cookie: s=1; t=2\r\nUser-Agent: coletor\r\nREMOTE_HOST: rh\r\n"
            "CONTENT_VERSION: 7\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\nExpires: never\r\n"
            "Authorization: Basic dTpw\r\nContent-Length: 2\r\n\r\n\xE7\xE3"));
  EXPECT_EQ(r.Method, "POST");
  EXPECT_EQ(r.MethodType, TMethodType::Post);
  EXPECT_EQ(r.ProtocolVersion, "HTTP/1.1");
  EXPECT_EQ(r.URL, "");
  EXPECT_EQ(r.PathInfo, "/soap/I OrvWs");
  EXPECT_EQ(r.RawPathInfo, "/soap/I%20OrvWs");
  EXPECT_EQ(r.Query, "wsdl");
  EXPECT_EQ(r.Host, "srv");
  EXPECT_EQ(r.ServerPort, 9090);
  EXPECT_EQ(r.RemoteIP, "10.1.2.3");
  EXPECT_EQ(r.RemoteAddr, "10.1.2.3");
  EXPECT_EQ(r.RemoteHost, "rh");
  EXPECT_EQ(r.ContentType, "text/xml; action=urn:x");
  EXPECT_EQ(r.ContentLength, 2);
  EXPECT_EQ(r.RawContent, "\xE7\xE3");
  EXPECT_EQ(r.Content(), "\xC3\xA7\xC3\xA3");   // read in its charset
  EXPECT_EQ(r.UserAgent, "coletor");
  EXPECT_EQ(r.ContentVersion, "7");
  EXPECT_GT(r.Date, 34644);
  EXPECT_EQ(r.Expires, -1);
  EXPECT_EQ(r.Authorization, "Basic dTpw");
  EXPECT_EQ(r.AuthUserName, "u");
  EXPECT_EQ(r.AuthPassword, "p");
  EXPECT_EQ(r.CookieFields.Values("t"), "2");
  EXPECT_EQ(r.QueryFields.Values("wsdl"), "");
  EXPECT_TRUE(r.QueryFields.Contains("wsdl"));
  EXPECT_EQ(r.IpCliente, "");   // set by the web module, not the bridge
}

TEST(WebRequestBuild, HostPortAndContentVariants) {
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
    const TWebRequest r = BuildWebRequest(Parse(c.request));
    EXPECT_EQ(r.Host, c.host) << c.request;
    EXPECT_EQ(r.ServerPort, c.port) << c.request;
    EXPECT_EQ(r.Content(), c.content) << c.request;
  }
  const TWebRequest form = BuildWebRequest(Parse(cases[3].request));
  EXPECT_EQ(form.ContentFields.Values("k"), "v w");
  EXPECT_TRUE(form.ContentFields.Contains("z"));
}

TEST(WebResponseSend, MapsOntoTheHttpResponse) {
  TWebResponse w;
  w.Realm = "OrvWs";
  w.Allow = "GET, POST";
  w.Title = "T";
  w.CustomHeaders.Add("X-A", "1");
  TCookie c;
  c.Name = "id";
  c.Value = "9";
  c.Path = "/";
  w.Cookies.push_back(c);
  w.Date = 34644.5;
  w.ContentType = "text/xml; charset=\"utf-8\"";
  w.SetContent("<a/>");
  HttpResponse h;
  h.content_length = 99;
  CopyToHttpResponse(w, h);
  const std::string body = h.BodyBytes();
  EXPECT_EQ(h.RenderHeader(body.size()),
            "HTTP/1.1 401 Unauthorized\r\nConnection: close\r\n"
            "Content-Type: text/xml; charset=utf-8\r\nContent-Length: 4\r\n"
            "Date: Sun, 06 Nov 1994 12:00:00 GMT\r\n"
            "Allow: GET, POST\r\nTitle: T\r\nX-A: 1\r\n"
            "WWW-Authenticate: Basic realm=\"OrvWs\"\r\nSet-Cookie: id=9; path=/\r\n\r\n");
  EXPECT_EQ(body, "<a/>");
}

// Records which module set served each request; waits on a gate named by the path.
class TaggedModule : public TWebModule {
 public:
  TaggedModule(int id, std::map<std::string, test::Gate*>* gates) : id_(id), gates_(gates) {}
  bool Dispatch(TWebRequest& rq, TWebResponse& rs) override {
    if (rq.PathInfo == "/throw") throw std::runtime_error("module failed");
    auto it = gates_->find(rq.PathInfo);
    if (it != gates_->end()) it->second->Enter();
    rs.SetContent(std::to_string(id_));
    return true;
  }

 private:
  int id_;
  std::map<std::string, test::Gate*>* gates_;
};

TEST(WebRequestHandler, ReusesIdleSetsOldestFirst) {
  test::Gate a, b;
  std::map<std::string, test::Gate*> gates{{"/a", &a}, {"/b", &b}};
  int made = 0;
  TWebRequestHandler handler;
  handler.SetWebModuleClass([&] { return std::make_unique<TaggedModule>(++made, &gates); });
  auto serve = [&](const std::string& path) {
    TWebRequest rq;
    rq.PathInfo = path;
    TWebResponse rs;
    handler.HandleRequest(rq, rs);
    return rs.Content();
  };
  auto fa = std::async(std::launch::async, serve, "/a");
  ASSERT_TRUE(a.WaitInside(1));
  auto fb = std::async(std::launch::async, serve, "/b");
  ASSERT_TRUE(b.WaitInside(1));
  EXPECT_EQ(handler.ActiveCount(), 2u);
  b.Open();   // /b's set goes back first, so it is the oldest idle one
  const std::string set_b = fb.get();
  a.Open();
  const std::string set_a = fa.get();
  EXPECT_NE(set_a, set_b);
  EXPECT_EQ(serve("/x"), set_b);
  EXPECT_EQ(serve("/x"), set_a);
  EXPECT_EQ(made, 2);

  // An error that leaves the module reaches the caller, and the set is returned all the same.
  EXPECT_THROW(serve("/throw"), std::runtime_error);
  EXPECT_EQ(handler.ActiveCount(), 0u);
  EXPECT_EQ(handler.InactiveCount(), 2u);
}

TEST(WebRequestHandler, SetIsFreeBeforeTheAnswerLeaves) {
  TWebRequestHandler handler(1);
  handler.SetWebModuleClass([] { return std::make_unique<test::EchoModule>(); });
  std::size_t active_while_sending = 99;
  TWebRequest rq;
  TWebResponse rs("HTTP/1.1",
                  [&](TWebResponse&) { active_while_sending = handler.ActiveCount(); });
  EXPECT_TRUE(handler.HandleRequest(rq, rs));
  EXPECT_EQ(active_while_sending, 0u);
}

TEST(WebRequestHandler, FailedModuleCreationFreesItsSlot) {
  TWebRequestHandler handler(1);
  bool fail = true;
  handler.SetWebModuleClass([&]() -> std::unique_ptr<TWebModule> {
    if (fail) throw std::runtime_error("no module");
    return std::make_unique<test::EchoModule>();
  });
  TWebRequest rq;
  TWebResponse rs;
  EXPECT_THROW(handler.HandleRequest(rq, rs), std::runtime_error);
  EXPECT_EQ(handler.ActiveCount(), 0u);
  fail = false;
  EXPECT_TRUE(handler.HandleRequest(rq, rs));
  EXPECT_TRUE(rs.Sent());
  EXPECT_EQ(handler.CreatedCount(), 1u);
}

}  // namespace
}  // namespace orv::host
