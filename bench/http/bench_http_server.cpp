// A listener serving a fixed ~700-byte SOAP answer through the whole road (event loop, request
// reader, bridge, module pool, TWebModulePrincipal, response writer), for bench/http/run.sh.
//
//   bench_http_server <port> [backlog]    serves until SIGINT/SIGTERM
//   bench_http_server --body              prints the answer's body (for the nginx side)
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "host/http_server.h"
#include "host/request_handler.h"
#include "host/web_module.h"

namespace {

std::string Body() {
  std::string b =
      "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">"
      "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
      "<NS1:ExecResponse xmlns:NS1=\"urn:UOrvWsIntf-IOrvWs\">"
      "<return xsi:type=\"xsd:string\">";
  while (b.size() < 640) b += "OK;";
  b += "</return></NS1:ExecResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  return b;
}

class FixedSoap : public orv::host::IWebDispatch {
 public:
  bool Enabled() const override { return true; }
  orv::host::TMethodType MethodType() const override { return orv::host::TMethodType::Post; }
  std::string PathInfo() const override { return "soap*"; }
  bool DispatchRequest(orv::host::TWebRequest&, orv::host::TWebResponse& rs) override {
    rs.ContentType = "text/xml; charset=\"utf-8\"";
    rs.SetContent(Body());
    return true;
  }
};

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--body") {
    std::cout << Body();
    return 0;
  }
  if (argc < 2) {
    std::cerr << "usage: bench_http_server <port> [backlog] | --body\n";
    return 2;
  }
  orv::host::HttpServerOptions options;
  if (argc >= 3) options.backlog = std::atoi(argv[2]);
  orv::host::TWebRequestHandler handler;
  handler.SetWebModuleClass(orv::host::WebModulePrincipalClass([] {
    orv::host::TWebModuleComponents c;
    c.HTTPSoapDispatcher1 = std::make_unique<FixedSoap>();
    c.ServiceInfo = [](orv::host::TWebRequest&, orv::host::TWebResponse& rs, bool&) {
      rs.SetContent("service page");
    };
    c.AddUpload = [](std::int64_t) {};
    return c;
  }));
  orv::host::THttpServer server(options);
  server.SetDefaultPort(static_cast<unsigned short>(std::atoi(argv[1])));
  server.SetOnCommand([&handler](orv::host::HttpExchange& ex) { ServeWebRequest(handler, ex); });
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  server.Start();
  std::cout << "listening " << server.BoundPorts().at(0) << " backlog " << options.backlog
            << std::endl;
  while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.Stop();
  return 0;
}
