// The SOAP endpoint: turns one HTTP request into one call of an operation of a registered
// interface (IOrvWs or IWSDLPublish) and the call's result, or the error that stopped it, into
// the HTTP response (status, content type, body).
//
// It works on the web request and web response themselves, which are plain values (no
// connection behind them), so tests, benchmarks and the fuzzer drive it without a listener;
// http_soap_dispatcher.h makes it a dispatching component of the web module.
//
// Thread safety: HandleSoapRequest may run on many threads at once. Each call owns its parse
// tree, call context and implementation instance; the registry is the only shared object and
// is read under its own lock.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/web.h"
#include "soap/registry.h"

namespace orv::soap {

// The content type of every SOAP response and fault (the quotes are part of the value).
inline constexpr std::string_view kSoapContentType = "text/xml; charset=\"utf-8\"";

// Handles one web request against `registry` and fills `response` (status, content type,
// body); returns whether the answer is a fault envelope (endpoint- or call-level) rather than a
// call's answer. Reads the path, the content type, SOAPAction (else HTTP_SOAPACTION) and the
// caller's address (IpCliente) of the request, and moves its body out: the body is let go once
// the call's values are taken from it, before the operation runs. Never throws: every failure
// becomes a fault envelope (endpoint-level: status 500; call-level: status 200).
bool HandleSoapRequest(host::TWebRequest& request, host::TWebResponse& response,
                       const InterfaceRegistry& registry);

// Envelope encoders, byte-exact.
// Endpoint-level fault: the fixed fault text with `message` escaped.
std::string EncodeEndpointFault(std::string_view message);
// Call-level fault envelope.
std::string EncodeCallFault(std::string_view fault_code, std::string_view message);
// A call's answer: `op`'s response element with the result `r` (a text made in pieces is
// written piece by piece and its pieces released as it goes: the envelope then comes in pieces
// too, to be sent one after the other; otherwise in one).
std::vector<std::string> EncodeCallResponse(const InterfaceInfo& intf, const OperationInfo& op,
                                            CallValue& r);

}  // namespace orv::soap
