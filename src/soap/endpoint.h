// The SOAP endpoint: turns one HTTP request into one call of an operation of a registered
// interface (IOrvWs or IWSDLPublish) and the call's result, or the error that stopped it, into
// the HTTP response (status, content type, body).
//
// The core works on plain request/response values so that it can be driven without a web
// layer (tests, benchmarks, fuzzing); http_soap_dispatcher.h adapts web requests to it.
//
// Thread safety: HandleSoapRequest may run on many threads at once. Each call owns its parse
// tree, call context and implementation instance; the registry is the only shared object and
// is read under its own lock.
#pragma once

#include <string>
#include <string_view>

#include "soap/registry.h"

namespace orv::soap {

// The content type of every SOAP response and fault (the quotes are part of the value).
inline constexpr std::string_view kSoapContentType = "text/xml; charset=\"utf-8\"";

struct SoapRequest {
  std::string method = "POST";
  std::string path_info;     // decoded path, e.g. "/soap/IOrvWs"
  std::string content_type;  // request Content-Type without its charset parameter
  std::string soap_action;   // SOAPAction header (else HTTP_SOAPACTION), as received
  std::string body;          // body bytes, whole and unchanged
  std::string ip_cliente;    // the caller's address for the collector operations
};

struct SoapResponse {
  int status = 200;
  std::string content_type{kSoapContentType};
  std::string body;          // UTF-8 bytes
  bool fault = true;         // a fault envelope (endpoint- or call-level), not a call's answer
};

// Handles one request against `registry`. Never throws: every failure becomes a fault
// envelope (endpoint-level: status 500; call-level: status 200). The body is let go once the
// call's values are taken from it, before the operation runs.
SoapResponse HandleSoapRequest(SoapRequest request, const InterfaceRegistry& registry);

// Envelope encoders, byte-exact.
// Endpoint-level fault: the fixed fault text with `message` escaped.
std::string EncodeEndpointFault(std::string_view message);
// Call-level fault envelope.
std::string EncodeCallFault(std::string_view fault_code, std::string_view message);

}  // namespace orv::soap
