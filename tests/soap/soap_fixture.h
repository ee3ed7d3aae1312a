// Stub implementations of the two interfaces and a registry filled like the service's own,
// for the SOAP endpoint tests, the fuzzer and the benchmarks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "soap/endpoint.h"
#include "soap/registry.h"
#include "soap/orvws_intf.h"
#include "soap/wsdl_publish_intf.h"

namespace orv::soap::testing {

// What the stub saw in its last call; shared by every instance of one registry.
struct StubLog {
  std::string op;
  std::vector<std::string> args;  // texts, or numbers as FormatInt32/FormatFloat32 writes them
  std::string ip;
  std::int32_t cod_pesquisa = 0, cod_concorrente = 0;
  float val_pesquisa = 0;
  std::atomic<int> alive{0};    // instances not yet destroyed
  std::atomic<int> made{0};     // instances made
  bool auth_result = true;
  std::string text_result = "ok";
  std::vector<std::string> sql_parts;   // non-empty: GetSQL's script in these pieces
  std::string throw_message;    // non-empty: every operation throws this
};

class StubOrvWs : public IOrvWs {
 public:
  StubOrvWs(StubLog& log, const CallContext& ctx) : log_(log) {
    ++log_.alive;
    ++log_.made;
    log_.ip = ctx.ip_cliente;
  }
  ~StubOrvWs() override { --log_.alive; }

  bool Auth(const std::string& KeyValue, const std::string& UserName) override {
    Record("Auth", {KeyValue, UserName});
    return log_.auth_result;
  }
  std::string Exec(const std::string& Value) override {
    Record("Exec", {Value});
    return log_.text_result;
  }
  std::string GetSQL(const std::string& Value) override {
    Record("GetSQL", {Value});
    return log_.text_result;
  }
  std::vector<std::string> GetSQLEmPartes(const std::string& Value) override {
    if (log_.sql_parts.empty()) return IOrvWs::GetSQLEmPartes(Value);
    Record("GetSQL", {Value});
    return log_.sql_parts;
  }
  std::string AddItemPesquisa(std::int32_t CodPesquisa, std::int32_t CodConcorrente,
                              const std::string& CodEan, float ValPesquisa) override {
    log_.cod_pesquisa = CodPesquisa;
    log_.cod_concorrente = CodConcorrente;
    log_.val_pesquisa = ValPesquisa;
    Record("AddItemPesquisa", {std::to_string(CodPesquisa), std::to_string(CodConcorrente),
                               CodEan, std::to_string(ValPesquisa)});
    return log_.text_result;
  }

 private:
  void Record(std::string op, std::vector<std::string> args) {
    log_.op = std::move(op);
    log_.args = std::move(args);
    if (!log_.throw_message.empty()) throw std::runtime_error(log_.throw_message);
  }
  StubLog& log_;
};

// Lists the registered interfaces like the real publisher does.
class StubPublish : public IWSDLPublish {
 public:
  explicit StubPublish(const InterfaceRegistry& registry) : registry_(registry) {}
  std::vector<std::string> GetPortTypeList() override {
    std::vector<std::string> names;
    for (const auto& i : registry_.Interfaces()) names.push_back(i->name);
    return names;
  }
  std::string GetWSDLForPortType(const std::string& PortType) override {
    return "<wsdl for=\"" + PortType + "\"/>";
  }
  std::vector<std::string> GetTypeSystemsList() override { return {}; }
  std::string GetXSDForTypeSystem(const std::string&) override { return {}; }

 private:
  const InterfaceRegistry& registry_;
};

// IWSDLPublish then IOrvWs, each bound to its stub class.
inline void FillRegistry(InterfaceRegistry& registry, StubLog& log) {
  RegisterWSDLPublishInterface(registry);
  registry.RegisterInvokableClass(MakeInvokableClass<StubPublish, IWSDLPublish>(
      "TWSDLPublish", [&registry](const CallContext&) {
        return std::make_unique<StubPublish>(registry);
      }));
  RegisterOrvWsInterface(registry);
  registry.RegisterInvokableClass(MakeInvokableClass<StubOrvWs, IOrvWs>(
      "TOrvWs", [&log](const CallContext& ctx) { return std::make_unique<StubOrvWs>(log, ctx); }));
}

// An envelope around one operation element in the IOrvWs namespace.
inline std::string Envelope(const std::string& op, const std::string& params,
                            const std::string& extra = "") {
  return "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
         "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">" +
         extra + "<SOAP-ENV:Body><NS1:" + op + " xmlns:NS1=\"urn:UOrvWsIntf-IOrvWs\">" + params +
         "</NS1:" + op + "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

inline constexpr const char* kEnvOpen =
    "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">";

// The call-level fault body for `message`.
inline std::string CallFault(const std::string& escaped_message,
                             const std::string& code = "SOAP-ENV:Server") {
  return std::string(kEnvOpen) + "<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>" + code +
         "</faultcode><faultstring>" + escaped_message +
         "</faultstring><faultactor/></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

// One SOAP POST as the listener hands it to the endpoint.
inline host::TWebRequest SoapPost(std::string path, std::string body, std::string action = "",
                                  std::string content_type = "text/xml",
                                  std::string ip_cliente = "192.168.0.7") {
  host::TWebRequest r;
  r.method = "POST";
  r.path = std::move(path);
  if (!action.empty()) r.headers.emplace_back("SOAPAction", std::move(action));
  if (!content_type.empty()) r.headers.emplace_back("Content-Type", std::move(content_type));
  r.body = std::move(body);
  r.has_body = true;
  r.IpCliente = std::move(ip_cliente);
  return r;
}

// What the endpoint answered to one request.
struct SoapAnswer {
  int status = 0;
  std::string content_type;
  std::string body;   // the bytes that go out
  bool fault = true;
};
inline SoapAnswer Answer(host::TWebRequest request, const InterfaceRegistry& registry) {
  host::TWebResponse response;
  SoapAnswer a;
  a.fault = HandleSoapRequest(request, response, registry);
  a.status = response.StatusCode();
  a.content_type = response.ContentType;
  a.body = response.BodyBytes();
  return a;
}

}  // namespace orv::soap::testing
