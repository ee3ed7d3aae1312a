// Web dispatch: path patterns, the routes between the SOAP endpoint, the publisher and the
// service page, the hooks and the error page; then the whole road over a socket.
#include <gtest/gtest.h>

#include <atomic>

#include "host/path_match.h"
#include "host/web_module.h"
#include "support/raw_client.h"
#include "server_fixture.h"

namespace orv::host {
namespace {

TEST(PathPattern, MatchesInAnyLetterCase) {
  const struct {
    const char* path;
    const char* pattern;
    bool match;
  } cases[] = {
      {"/soap", "/soap*", true},          {"/SOAP/IOrvWs", "/soap*", true},
      {"/Soap", "/SOAP*", true},          {"/soapx/y", "/soap*", true},
      {"/so", "/soap*", false},           {"/xsoap", "/soap*", false},
      {"/wsdl/IOrvWs", "/wsdl*", true},   {"", "", true},
      {"/", "", false},                   {"/a", "/?", true},
      {"/ab", "/?", false},               {"/b1", "/[abc][0-9]", true},
      {"/B1", "/[abc][0-9]", true},       {"/d1", "/[abc][0-9]", false},
      {"/d", "/[!abc]", true},            {"/a", "/[!abc]", false},
      {"/a[b", "/a[b", true},             {"/x/y/z", "/*/*/z", true},
      {"/x/y", "/*/*/z", false},          {"/abcabd", "/*abd", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesPathPattern(c.path, c.pattern), c.match) << c.path << " ~ " << c.pattern;
  }
  EXPECT_EQ(NormalisePathPattern("soap*"), "/soap*");
  EXPECT_EQ(NormalisePathPattern("\\wsdl\\*"), "/wsdl/*");
  EXPECT_EQ(NormalisePathPattern("/x"), "/x");
}

// A dispatching component that records what it saw.
class FakeDispatch : public IWebDispatch {
 public:
  FakeDispatch(std::string name, TMethodType method, std::string path, std::string* log)
      : name_(std::move(name)), method_(method), path_(std::move(path)), log_(log) {}
  bool Enabled() const override { return enabled; }
  TMethodType MethodType() const override { return method_; }
  std::string PathInfo() const override { return path_; }
  bool DispatchRequest(TWebRequest& rq, TWebResponse& rs) override {
    *log_ += name_ + "(" + rq.IpCliente + ")";
    if (fail) throw std::runtime_error("component <failed>");
    rs.ContentType = "text/xml; charset=\"utf-8\"";
    rs.SetContent(name_ + " answer");
    return handles;
  }
  bool enabled = true;
  bool handles = true;
  bool fail = false;

 private:
  std::string name_;
  TMethodType method_;
  std::string path_;
  std::string* log_;
};

struct ModuleUnderTest {
  std::string log;
  std::int64_t uploaded = 0;
  bool page_fails = false;
  bool upload_fails = false;
  FakeDispatch* soap = nullptr;
  FakeDispatch* wsdl = nullptr;
  std::unique_ptr<TWebModulePrincipal> module;

  ModuleUnderTest() {
    TWebModuleComponents c;
    auto s = std::make_unique<FakeDispatch>("soap", TMethodType::Post, "soap*", &log);
    auto w = std::make_unique<FakeDispatch>("wsdl", TMethodType::Any, "wsdl*", &log);
    soap = s.get();
    wsdl = w.get();
    c.HTTPSoapDispatcher1 = std::move(s);
    c.WSDLHTMLPublish1 = std::move(w);
    c.ServiceInfo = [this](TWebRequest& rq, TWebResponse& rs, bool& handled) {
      log += "page(" + rq.IpCliente + (handled ? ",handled" : "") + ")";
      if (page_fails) throw std::runtime_error("page failed");
      rs.SetContent("service page");
    };
    c.AddUpload = [this](std::int64_t n) {
      if (upload_fails) throw std::runtime_error("counter failed");
      uploaded += n;
    };
    module = std::make_unique<TWebModulePrincipal>(std::move(c));
  }

  std::string Serve(const std::string& method, const std::string& path, TWebResponse& rs,
                    const std::string& content_type = "") {
    TWebRequest rq;
    rq.method = method;
    rq.path = path;
    if (!content_type.empty()) rq.headers.emplace_back("Content-Type", content_type);
    rq.peer_address = "192.168.0.7";
    log.clear();
    EXPECT_TRUE(module->Dispatch(rq, rs));
    EXPECT_EQ(rq.IpCliente, "192.168.0.7");
    return log;
  }
  std::string Serve(const std::string& method, const std::string& path) {
    TWebResponse rs;
    return Serve(method, path, rs);
  }
};

TEST(WebModulePrincipal, Routes) {
  ModuleUnderTest m;
  const struct {
    const char* method;
    const char* path;
    const char* answered_by;
  } cases[] = {
      {"POST", "/soap/IOrvWs", "soap(192.168.0.7)"},
      {"POST", "/SOAP", "soap(192.168.0.7)"},
      {"GET", "/soap/IOrvWs", "page(192.168.0.7,handled)"},
      {"HEAD", "/soap", "page(192.168.0.7,handled)"},
      {"GET", "/wsdl/IOrvWs", "wsdl(192.168.0.7)"},
      {"DELETE", "/WSDL", "wsdl(192.168.0.7)"},
      {"POST", "/other", "page(192.168.0.7,handled)"},
      {"GET", "/", "page(192.168.0.7,handled)"},
      {"GET", "", "page(192.168.0.7,handled)"},
      {"PUT", "/inspection.wsil", "page(192.168.0.7,handled)"},
  };
  for (const auto& c : cases) EXPECT_EQ(m.Serve(c.method, c.path), c.answered_by) << c.path;
}

TEST(WebModulePrincipal, ComponentsDecideInOrderAndDisabledOnesAreSkipped) {
  ModuleUnderTest m;
  // The first component tried decides; when it does not handle, the service page runs.
  m.soap->handles = false;
  EXPECT_EQ(m.Serve("POST", "/soap"), "soap(192.168.0.7)page(192.168.0.7,handled)");
  m.soap->enabled = false;
  EXPECT_EQ(m.Serve("POST", "/soap"), "page(192.168.0.7,handled)");
}

TEST(WebModulePrincipal, EveryRequestCarriesItsOwnClientAddress) {
  ModuleUnderTest m;
  // Whatever the content type (checked inside Serve), also for the service page.
  TWebResponse a, b, c;
  EXPECT_EQ(m.Serve("POST", "/soap", a, "text/xml"), "soap(192.168.0.7)");
  EXPECT_EQ(m.Serve("POST", "/soap", b, "application/soap+xml"), "soap(192.168.0.7)");
  EXPECT_EQ(m.Serve("GET", "/", c, "TEXT/XML"), "page(192.168.0.7,handled)");
}

TEST(WebModulePrincipal, AfterDispatchCountsTheBodyBytes) {
  ModuleUnderTest m;
  m.Serve("POST", "/soap");
  EXPECT_EQ(m.uploaded, 11);   // "soap answer"
  m.Serve("GET", "/");
  EXPECT_EQ(m.uploaded, 11 + 12);
  // A response the component sent itself is not counted again.
  TWebResponse sent;
  sent.SendResponse();
  m.log.clear();
  TWebRequest rq;
  EXPECT_TRUE(m.module->Dispatch(rq, sent));
  EXPECT_EQ(m.log, "");
  EXPECT_EQ(m.uploaded, 23);
}

TEST(WebModulePrincipal, ErrorsBecomeTheErrorPage) {
  const struct {
    const char* name;
    std::function<void(ModuleUnderTest&)> arrange;
    const char* method;
    const char* path;
    const char* message;
  } cases[] = {
      {"component", [](ModuleUnderTest& m) { m.soap->fail = true; }, "POST", "/soap/x",
       "component &lt;failed&gt;"},
      {"action", [](ModuleUnderTest& m) { m.page_fails = true; }, "GET", "/<b>",
       "page failed"},
      {"after-dispatch hook", [](ModuleUnderTest& m) { m.upload_fails = true; }, "GET",
       "/p", "counter failed"},
  };
  for (const auto& c : cases) {
    ModuleUnderTest m;
    c.arrange(m);
    int sends = 0;
    TWebResponse rs("HTTP/1.1", [&] { ++sends; });
    m.Serve(c.method, c.path, rs);
    EXPECT_EQ(rs.StatusCode(), 500) << c.name;
    EXPECT_EQ(rs.ReasonString, "Internal Server Error") << c.name;
    EXPECT_EQ(sends, 1) << c.name;
    std::string path = c.path;
    if (path == "/<b>") path = "/&lt;b&gt;";
    EXPECT_EQ(rs.Content(), std::string("<html><body><h1>Internal Application Error</h1>\r\n<p>") +
                                c.message + "\r\n<p><hr width=\"100%\"><i>" + path +
                                "</i></body></html>")
        << c.name;
    EXPECT_EQ(m.uploaded, 0) << c.name;
  }
}

// The whole road: listener, bridge, pool and web module, on a socket.
class WebDispatchOverHttp : public test::ServerFixture {};

TEST_F(WebDispatchOverHttp, SoapAnswerAndErrorPageOnTheWire) {
  std::atomic<std::int64_t> uploaded{0};
  handler_ = std::make_unique<TWebRequestHandler>();
  handler_->SetWebModuleClass(WebModulePrincipalClass([&uploaded] {
    static std::string sink;   // the fakes' log is not looked at here
    TWebModuleComponents c;
    auto soap = std::make_unique<FakeDispatch>("soap", TMethodType::Post, "soap*", &sink);
    c.HTTPSoapDispatcher1 = std::move(soap);
    c.ServiceInfo = [](TWebRequest& rq, TWebResponse& rs, bool&) {
      if (rq.PathInfo() == "/boom") throw std::runtime_error("falhou");
      rs.SetContent("page");
    };
    c.AddUpload = [&uploaded](std::int64_t n) { uploaded += n; };
    return c;
  }));
  TWebRequestHandler* h = handler_.get();
  StartServer([h](HttpExchange& ex) { ServeWebRequest(*h, ex); });

  EXPECT_EQ(orv::testing::Exchange(port_, "POST /Soap/IOrvWs HTTP/1.1\r\nHost: h\r\n"
                                  "Content-Type: text/xml; charset=utf-8\r\nContent-Length: 0\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/xml; charset=utf-8\r\n"
            "Content-Length: 11\r\n\r\nsoap answer");
  EXPECT_EQ(uploaded.load(), 11);
  const std::string page =
      "<html><body><h1>Internal Application Error</h1>\r\n<p>falhou\r\n<p><hr width=\"100%\"><i>"
      "/boom</i></body></html>";
  EXPECT_EQ(orv::testing::Exchange(port_, "GET /boom HTTP/1.0\r\n\r\n"),
            "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\n"
            "Content-Type: text/html; charset=ISO-8859-1\r\nContent-Length: " +
                std::to_string(page.size()) + "\r\n\r\n" + page);
  EXPECT_EQ(uploaded.load(), 11);
}

}  // namespace
}  // namespace orv::host
