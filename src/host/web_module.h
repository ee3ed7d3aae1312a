// The web module TWebModulePrincipal: for each web request it runs the before-dispatch hook
// (the request's own client address), picks who answers (the DefaultHandler action, the SOAP
// endpoint HTTPSoapDispatcher1, the WSDL publisher WSDLHTMLPublish1, else the service page),
// runs the after-dispatch hook (bytes sent) and answers any error with an error page.
//
// The SOAP endpoint, the publisher, the service page and the bytes-sent counter are injected,
// so start-up wires the real ones and tests use fakes. Each instance gets its own components.
//
// Thread safety: one instance serves one request at a time (the request handler's pool gives
// each request its own); different instances run concurrently. The injected AddUpload sink is
// called from many dispatch threads at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/web.h"
#include "host/request_handler.h"

namespace orv::host {

// A dispatching component of the web module (the SOAP endpoint, the WSDL publisher).
class IWebDispatch {
 public:
  virtual ~IWebDispatch() = default;
  virtual bool Enabled() const = 0;
  virtual TMethodType MethodType() const = 0;
  // The path text the component answers, e.g. "soap*" (made a pattern by
  // NormalisePathPattern).
  virtual std::string PathInfo() const = 0;
  // Answers the request; returns whether it handled it.
  virtual bool DispatchRequest(TWebRequest& Request, TWebResponse& Response) = 0;
};

// Handler of an action item or a hook: (Request, Response, Handled).
using TWebActionEvent = std::function<void(TWebRequest&, TWebResponse&, bool&)>;
// Receives the byte count of each response the web module answered (the main window's
// AddUpload).
using UploadSink = std::function<void(std::int64_t)>;

// The components of one web module instance, made in this order.
struct TWebModuleComponents {
  std::unique_ptr<IWebDispatch> HTTPSoapDispatcher1;   // "soap*", POST
  std::unique_ptr<IWebDispatch> WSDLHTMLPublish1;      // "wsdl*", any method
  TWebActionEvent ServiceInfo;   // the service information page of WSDLHTMLPublish1
  UploadSink AddUpload;
};

struct TWebActionItem {
  std::string Name;
  std::string PathInfo;
  TMethodType MethodType = TMethodType::Any;
  bool Enabled = true;
  bool Default = false;
  TWebActionEvent OnAction;
};

class TWebModulePrincipal : public TWebModule {
 public:
  explicit TWebModulePrincipal(TWebModuleComponents components);

  bool Dispatch(TWebRequest& Request, TWebResponse& Response) override;

  // Records the request's own client address. Every request gets it, whatever its content
  // type: the address travels with the request, so a collector operation always sees the
  // address of the request it serves (never one left by an earlier or concurrent request).
  void WebModuleBeforeDispatch(TWebRequest& Request, TWebResponse& Response, bool& Handled);
  // The service information page.
  void WebModule1DefaultHandlerAction(TWebRequest& Request, TWebResponse& Response,
                                      bool& Handled);
  // Adds the response's byte count to the bytes-sent indicator.
  void WebModuleAfterDispatch(TWebRequest& Request, TWebResponse& Response, bool& Handled);

  const std::vector<TWebActionItem>& Actions() const { return actions_; }
  IWebDispatch* HTTPSoapDispatcher1() const { return components_.HTTPSoapDispatcher1.get(); }
  IWebDispatch* WSDLHTMLPublish1() const { return components_.WSDLHTMLPublish1.get(); }

 private:
  void HandleException(const std::string& message, TWebRequest& Request,
                       TWebResponse& Response);

  TWebModuleComponents components_;
  std::vector<TWebActionItem> actions_;
};

// The error page's HTML for an error message and a request path (both HTML-escaped).
std::string ErrorPageHtml(const std::string& message, const std::string& path_info);

// The "web module class" for the request handler: each module set gets a TWebModulePrincipal
// with components from make_components.
WebModuleFactory WebModulePrincipalClass(std::function<TWebModuleComponents()> make_components);

}  // namespace orv::host
