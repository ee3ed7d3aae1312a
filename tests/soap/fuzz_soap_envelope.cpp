// Request bodies through the whole SOAP call path: intake, interface choice, parsing, envelope
// checks, parameter conversion, a stub IOrvWs, response and fault encoding. Every response
// must be one of the two fault forms or a response envelope.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "soap/endpoint.h"
#include "soap_fixture.h"

using namespace orv::soap;

namespace {

InterfaceRegistry& FuzzRegistry() {
  static testing::StubLog log;
  static InterfaceRegistry registry;
  static bool filled = [] {
    testing::FillRegistry(registry, log);
    return true;
  }();
  (void)filled;
  return registry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  // The first byte picks the request's path, action and content type, and whether the rest is
  // the whole body or goes inside an envelope (so that parameter decoding is reached at once).
  const unsigned char sel = input.empty() ? 0 : static_cast<unsigned char>(input[0]);
  const std::string rest = input.empty() ? "" : input.substr(1);
  std::string body;
  switch ((sel >> 3) & 3) {
    case 0: body = rest; break;
    case 1: body = testing::Envelope("AddItemPesquisa", rest); break;
    case 2: body = testing::Envelope("Auth", rest); break;
    default: body = testing::Envelope("GetSQL", "<Value>" + rest + "</Value>"); break;
  }
  const testing::SoapAnswer resp = testing::Answer(
      testing::SoapPost((sel & 1) ? "/soap/IWSDLPublish" : "/soap/IOrvWs", std::move(body),
                        (sel & 2) ? "\"urn:UOrvWsIntf-IOrvWs#Auth\"" : "",
                        (sel & 4) ? "multipart/related; boundary=b" : ""),
      FuzzRegistry());
  if (resp.status != 200 && resp.status != 500) std::abort();
  if (resp.body.rfind("<?xml version=\"1.0\"", 0) != 0) std::abort();
  if (resp.body.find("</SOAP-ENV:Envelope>") == std::string::npos) std::abort();
  return 0;
}
