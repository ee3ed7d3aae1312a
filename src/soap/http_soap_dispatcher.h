// THTTPSoapDispatcher: the web module's SOAP dispatching component ("HTTPSoapDispatcher1").
// It answers POST requests whose path matches its pattern ("soap*") by handing the request to
// the SOAP endpoint and filling the web response with the endpoint's status, content type and
// body. The web module decides which component to try (method type, pattern); this component
// only adapts a TWebRequest/TWebResponse pair to the endpoint core.
//
// Thread safety: each web module instance owns its own dispatcher; Dispatch runs on the
// request's thread. The endpoint reads the registry under its lock.
#pragma once

#include <string>

#include "host/web.h"
#include "soap/endpoint.h"

namespace orv::soap {

class THTTPSoapDispatcher {
 public:
  explicit THTTPSoapDispatcher(const InterfaceRegistry& registry = Registry())
      : registry_(&registry) {}

  std::string Name = "HTTPSoapDispatcher1";
  bool Enabled = true;
  host::TMethodType MethodType = host::TMethodType::Post;
  std::string PathInfo = "soap*";  // the web module normalises it to "/soap*"

  // Runs the endpoint on the request and fills the response. Always reports the request as
  // handled, faults included. The body bytes are moved out of the request (RawContent is
  // empty afterwards): they are read once, and a large body is not held twice.
  bool Dispatch(host::TWebRequest& request, host::TWebResponse& response) const;

  // The endpoint's view of a web request: path info, content type, SOAPAction (else the
  // HTTP_SOAPACTION header), body bytes (moved out) and the caller's address.
  static SoapRequest ToSoapRequest(host::TWebRequest& request);

 private:
  const InterfaceRegistry* registry_;
};

}  // namespace orv::soap
