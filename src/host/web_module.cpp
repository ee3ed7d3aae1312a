// The web module TWebModulePrincipal.
#include "host/web_module.h"

#include <exception>

#include "host/path_match.h"

namespace orv::host {
namespace {

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

bool MethodMatches(TMethodType wanted, TMethodType actual) {
  return wanted == TMethodType::Any || wanted == actual;
}

}  // namespace

std::string ErrorPageHtml(const std::string& message, const std::string& path_info) {
  // Message and path come from the request and the error: escaped so they stay text.
  return "<html><body><h1>Internal Application Error</h1>\r\n<p>" + HtmlEscape(message) +
         "\r\n<p><hr width=\"100%\"><i>" + HtmlEscape(path_info) + "</i></body></html>";
}

TWebModulePrincipal::TWebModulePrincipal(TWebModuleComponents components)
    : components_(std::move(components)) {
  TWebActionItem item;
  item.Name = "DefaultHandler";
  item.PathInfo = "/";
  item.MethodType = TMethodType::Any;
  item.Enabled = true;
  item.Default = true;
  item.OnAction = [this](TWebRequest& rq, TWebResponse& rs, bool& h) {
    WebModule1DefaultHandlerAction(rq, rs, h);
  };
  actions_.push_back(std::move(item));
}

void TWebModulePrincipal::WebModuleBeforeDispatch(TWebRequest& Request, TWebResponse&,
                                                  bool&) {
  Request.IpCliente = Request.RemoteIP();
}

void TWebModulePrincipal::WebModule1DefaultHandlerAction(TWebRequest& Request,
                                                         TWebResponse& Response,
                                                         bool& Handled) {
  if (components_.ServiceInfo) components_.ServiceInfo(Request, Response, Handled);
}

void TWebModulePrincipal::WebModuleAfterDispatch(TWebRequest&, TWebResponse& Response, bool&) {
  if (components_.AddUpload) components_.AddUpload(Response.ContentLength());
}

bool TWebModulePrincipal::Dispatch(TWebRequest& Request, TWebResponse& Response) {
  if (Response.Sent()) return true;
  bool handled = false;
  try {
    WebModuleBeforeDispatch(Request, Response, handled);
    const TMethodType method = Request.MethodType();

    // Action items: "/" counts as empty on both sides, so "/" matches the paths "/" and "".
    if (!handled) {
      const std::string path = Request.PathInfo() == "/" ? std::string() : Request.PathInfo();
      for (TWebActionItem& item : actions_) {
        const std::string pattern = item.PathInfo == "/" ? std::string() : item.PathInfo;
        if (!item.Enabled || !MethodMatches(item.MethodType, method) ||
            !MatchesPathPattern(path, pattern))
          continue;
        handled = true;
        if (item.OnAction) item.OnAction(Request, Response, handled);
        if (handled) break;
      }
    }

    // Dispatching components in the order they were made; the first one tried decides.
    if (!handled) {
      for (IWebDispatch* c : {components_.HTTPSoapDispatcher1.get(),
                              components_.WSDLHTMLPublish1.get()}) {
        if (c == nullptr || !c->Enabled() || !MethodMatches(c->MethodType(), method) ||
            !MatchesPathPattern(Request.PathInfo(), NormalisePathPattern(c->PathInfo())))
          continue;
        handled = c->DispatchRequest(Request, Response);
        break;
      }
    }

    // Nothing answered: the default action, whatever the path and method.
    if (!handled) {
      for (TWebActionItem& item : actions_) {
        if (!item.Default) continue;
        handled = true;
        if (item.OnAction) item.OnAction(Request, Response, handled);
        break;
      }
    }

    if (handled && !Response.Sent()) WebModuleAfterDispatch(Request, Response, handled);
  } catch (const std::exception& e) {
    HandleException(e.what(), Request, Response);
    handled = true;
  } catch (...) {
    HandleException("Unknown error", Request, Response);
    handled = true;
  }
  return handled;
}

void TWebModulePrincipal::HandleException(const std::string& message, TWebRequest& Request,
                                          TWebResponse& Response) {
  Response.SetContent(ErrorPageHtml(message, Request.PathInfo()));
  if (!Response.Sent()) {
    Response.SetStatusCode(500);
    Response.SendResponse();
  }
}

WebModuleFactory WebModulePrincipalClass(std::function<TWebModuleComponents()> make_components) {
  return [make = std::move(make_components)]() -> std::unique_ptr<TWebModule> {
    return std::make_unique<TWebModulePrincipal>(make ? make() : TWebModuleComponents{});
  };
}

}  // namespace orv::host
