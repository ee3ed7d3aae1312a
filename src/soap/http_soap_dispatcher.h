// THTTPSoapDispatcher: the web module's SOAP dispatching component ("HTTPSoapDispatcher1").
// It answers POST requests whose path matches its pattern ("soap*") by handing the request to
// the SOAP endpoint and filling the web response with the endpoint's status, content type and
// body. The web module decides which component to try (method type, pattern).
//
// Thread safety: each web module instance owns its own dispatcher; Dispatch runs on the
// request's thread. The endpoint reads the registry under its lock; the fault hook is called on
// the request's thread.
#pragma once

#include <functional>
#include <string>

#include "host/web.h"
#include "host/web_module.h"
#include "soap/endpoint.h"

namespace orv::soap {

class THTTPSoapDispatcher final : public host::IWebDispatch {
 public:
  static constexpr std::string_view kPathPattern = "soap*";  // the web module makes it "/soap*"

  // `on_fault` (may be empty) is told of every fault envelope answered; it must not throw.
  explicit THTTPSoapDispatcher(const InterfaceRegistry& registry,
                               std::function<void()> on_fault = {})
      : registry_(&registry), on_fault_(std::move(on_fault)) {}

  bool Enabled() const override { return true; }
  host::TMethodType MethodType() const override { return host::TMethodType::Post; }
  std::string PathInfo() const override { return std::string(kPathPattern); }
  bool DispatchRequest(host::TWebRequest& request, host::TWebResponse& response) override {
    return Dispatch(request, response);
  }

  // Runs the endpoint on the request and fills the response. Always reports the request as
  // handled, faults included. The body bytes are moved out of the request (RawContent is
  // empty afterwards): they are read once, and a large body is not held twice.
  bool Dispatch(host::TWebRequest& request, host::TWebResponse& response) const {
    if (HandleSoapRequest(request, response, *registry_) && on_fault_) on_fault_();
    return true;
  }

 private:
  const InterfaceRegistry* registry_;
  std::function<void()> on_fault_;
};

}  // namespace orv::soap
