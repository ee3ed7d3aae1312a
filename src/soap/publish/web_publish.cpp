#include "soap/publish/web_publish.h"

#include <utility>

#include "soap/publish/base_url.h"
#include "soap/publish/service_pages.h"

namespace orv::soap::publish {

std::string BaseUrlOf(const host::TWebRequest& request) {
  return BaseUrl(request.Host(), std::to_string(request.ServerPort()));
}

void ApplyReply(const PageReply& reply, host::TWebResponse& response) {
  if (reply.status) {
    response.SetStatusCode(*reply.status);
  }
  response.ContentType = reply.content_type;
  // Bytes, not text: a document without a charset parameter must not be re-encoded into the
  // host's code page on the way out.
  if (reply.body.empty()) {
    response.SetContent(std::string());
  } else {
    response.SetContentStream(reply.body);
  }
}

TWSDLHTMLPublish::TWSDLHTMLPublish(const InterfaceRegistry& registry, PublisherSettings settings)
    : registry_(registry), settings_(std::move(settings)) {}

bool TWSDLHTMLPublish::DispatchRequest(host::TWebRequest& Request, host::TWebResponse& Response) {
  PageReply reply;
  try {
    reply = PublisherReply(Request.PathInfo(), BaseUrlOf(Request), registry_, settings_);
  } catch (...) {
    reply = PageReply{std::nullopt, std::string(kHtmlContentType),
                      ErrorPage(std::current_exception())};
  }
  ApplyReply(reply, Response);
  return true;
}

void TWSDLHTMLPublish::ServiceInfo(host::TWebRequest& Request, host::TWebResponse& Response,
                                   bool& Handled) {
  ApplyReply(ServiceInfoReply(Request.PathInfo(), BaseUrlOf(Request),
                              Request.QueryFields().Values("intf"),
                              Request.QueryFields().Values("types"), registry_, settings_),
             Response);
  Handled = true;
}

void AddPublisher(host::TWebModuleComponents& components,
                  std::unique_ptr<TWSDLHTMLPublish> publisher) {
  TWSDLHTMLPublish* component = publisher.get();
  components.ServiceInfo = [component](host::TWebRequest& rq, host::TWebResponse& rs, bool& h) {
    component->ServiceInfo(rq, rs, h);
  };
  components.WSDLHTMLPublish1 = std::move(publisher);
}

}  // namespace orv::soap::publish
