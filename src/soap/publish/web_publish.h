// TWSDLHTMLPublish: the web module's publishing component (WSDLHTMLPublish1). Its dispatch
// answers every request whose path matches "wsdl*", whatever the method (listing page, WSDL
// documents, refusal of the administration paths); its service information page answers the
// web module's default action (service page, WS-Inspection document).
//
// Thread safety: each web module instance owns its component and serves one request at a time;
// different instances run concurrently (they only read the registry and the settings).
#pragma once

#include <string>
#include <string_view>

#include "host/web.h"
#include "soap/publish/wsdl_publisher.h"

namespace orv::soap::publish {

// The base URL of a web request (its Host field and ServerPort).
std::string BaseUrlOf(const host::TWebRequest& request);

// Copies a handler's reply into the web response. The body goes out as the exact bytes built.
void ApplyReply(const PageReply& reply, host::TWebResponse& response);

class TWSDLHTMLPublish {
 public:
  static constexpr std::string_view kPathPattern = "wsdl*";

  TWSDLHTMLPublish();  // the process-wide registry and settings
  TWSDLHTMLPublish(const InterfaceRegistry& registry, PublisherSettings settings);

  bool Enabled() const { return true; }
  host::TMethodType MethodType() const { return host::TMethodType::Any; }
  std::string_view PathPattern() const { return kPathPattern; }

  // The publisher handler; always reports the request handled.
  bool Dispatch(host::TWebRequest& request, host::TWebResponse& response);

  // The service information page (the web module's default action); always handled.
  bool ServiceInfo(host::TWebRequest& request, host::TWebResponse& response);

 private:
  const InterfaceRegistry& registry_;
  PublisherSettings settings_;
};

}  // namespace orv::soap::publish
