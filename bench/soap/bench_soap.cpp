// The SOAP endpoint core for a GetPortTypeList request and an Auth request (stub operation),
// and the stages that make up a request: parsing, decoding, encoding.
#include <benchmark/benchmark.h>

#include <string>
#include <utility>

#include "soap/endpoint.h"
#include "soap/soap_values.h"
#include "soap/xml_reader.h"
#include "soap/xml_writer.h"
#include "soap/soap_fixture.h"

namespace {

using namespace orv::soap;

struct Fixture {
  testing::StubLog log;
  InterfaceRegistry registry;
  Fixture() { testing::FillRegistry(registry, log); }
};

Fixture& F() {
  static Fixture f;
  return f;
}

const std::string kAuthBody =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
    "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><soap:Body "
    "soap:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><m:Auth "
    "xmlns:m=\"urn:UOrvWsIntf-IOrvWs\"><KeyValue xsi:type=\"xsd:string\">chave-de-autenticacao"
    "</KeyValue><UserName xsi:type=\"xsd:string\">COLETOR1</UserName></m:Auth></soap:Body>"
    "</soap:Envelope>";

const std::string kPortTypesBody =
    "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
    "<NS1:GetPortTypeList xmlns:NS1=\"http://orvws.local/namespaces/Types\"/></SOAP-ENV:Body>"
    "</SOAP-ENV:Envelope>";

const std::string kAcaoAuth = "\"urn:UOrvWsIntf-IOrvWs#Auth\"";

void Run(benchmark::State& state, const orv::host::TWebRequest& req) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    orv::host::TWebRequest request = req;   // the endpoint takes the body out
    orv::host::TWebResponse r;
    HandleSoapRequest(request, r, F().registry);
    bytes += static_cast<std::size_t>(r.ContentLength());
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_Endpoint_Auth(benchmark::State& state) {
  Run(state, testing::SoapPost("/soap/IOrvWs", kAuthBody, kAcaoAuth, "text/xml"));
}
BENCHMARK(BM_Endpoint_Auth);

void BM_Endpoint_GetPortTypeList(benchmark::State& state) {
  Run(state, testing::SoapPost("/soap/IWSDLPublish", kPortTypesBody, "", "text/xml"));
}
BENCHMARK(BM_Endpoint_GetPortTypeList);

// A GetSQL answer of the given size: the escaping and copying of a large result.
void BM_Endpoint_GetSQLResult(benchmark::State& state) {
  F().log.text_result.assign(static_cast<std::size_t>(state.range(0)), 'x');
  for (std::size_t i = 0; i < F().log.text_result.size(); i += 100) F().log.text_result[i] = '\'';
  Run(state, testing::SoapPost("/soap/IOrvWs", testing::Envelope("GetSQL", "<Value>1</Value>"), "", ""));
  F().log.text_result = "ok";
}
BENCHMARK(BM_Endpoint_GetSQLResult)->Arg(64 << 10)->Arg(4 << 20);

// Stages of the Auth request.
void BM_Stage_Parse(benchmark::State& state) {
  for (auto _ : state) {
    DocPtr doc = ParseXml(kAuthBody);
    benchmark::DoNotOptimize(doc.get());
  }
}
BENCHMARK(BM_Stage_Parse);

void BM_Stage_Lookup(benchmark::State& state) {
  for (auto _ : state) {
    auto intf = F().registry.FindBySoapAction(kAcaoAuth);
    benchmark::DoNotOptimize(intf.get());
  }
}
BENCHMARK(BM_Stage_Lookup);

void BM_Stage_EncodeFault(benchmark::State& state) {
  for (auto _ : state) {
    std::string s = EncodeCallFault("SOAP-ENV:Server", "''12a'' is not a valid integer value");
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_Stage_EncodeFault);

void BM_Stage_ParseFloat(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ParseFloat32(" 3.99 "));
}
BENCHMARK(BM_Stage_ParseFloat);

}  // namespace

BENCHMARK_MAIN();
