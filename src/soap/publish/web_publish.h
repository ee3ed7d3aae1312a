// TWSDLHTMLPublish: the web module's publishing component (WSDLHTMLPublish1). Its dispatch
// answers every request whose path matches "wsdl*", whatever the method (listing page, WSDL
// documents, refusal of the administration paths); its service information page answers the
// web module's default action (service page, WS-Inspection document).
//
// Thread safety: each web module instance owns its component and serves one request at a time;
// different instances run concurrently (they only read the registry and the settings).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "host/web.h"
#include "host/web_module.h"
#include "soap/publish/wsdl_publisher.h"

namespace orv::soap::publish {

// The base URL of a web request (its Host field and ServerPort).
std::string BaseUrlOf(const host::TWebRequest& request);

// Copies a handler's reply into the web response. The body goes out as the exact bytes built.
void ApplyReply(const PageReply& reply, host::TWebResponse& response);

class TWSDLHTMLPublish final : public host::IWebDispatch {
 public:
  static constexpr std::string_view kPathPattern = "wsdl*";

  TWSDLHTMLPublish(const InterfaceRegistry& registry, PublisherSettings settings);

  bool Enabled() const override { return true; }
  host::TMethodType MethodType() const override { return host::TMethodType::Any; }
  std::string PathInfo() const override { return std::string(kPathPattern); }

  // The publisher handler; always reports the request handled.
  bool DispatchRequest(host::TWebRequest& Request, host::TWebResponse& Response) override;

  // The service information page (the web module's default action); sets Handled.
  void ServiceInfo(host::TWebRequest& Request, host::TWebResponse& Response, bool& Handled);

 private:
  const InterfaceRegistry& registry_;
  PublisherSettings settings_;
};

// Gives a web module's components their WSDLHTMLPublish1 and the service information page of
// that same component.
void AddPublisher(host::TWebModuleComponents& components,
                  std::unique_ptr<TWSDLHTMLPublish> publisher);

}  // namespace orv::soap::publish
