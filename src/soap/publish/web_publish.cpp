#include "soap/publish/web_publish.h"

#include <utility>

#include "soap/publish/base_url.h"
#include "soap/publish/service_pages.h"

namespace orv::soap::publish {

std::string BaseUrlOf(const host::TWebRequest& request) {
  return BaseUrl(request.Host, std::to_string(request.ServerPort));
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

TWSDLHTMLPublish::TWSDLHTMLPublish()
    : TWSDLHTMLPublish(Registry(), ProcessPublisherSettings()) {}

TWSDLHTMLPublish::TWSDLHTMLPublish(const InterfaceRegistry& registry, PublisherSettings settings)
    : registry_(registry), settings_(std::move(settings)) {}

bool TWSDLHTMLPublish::Dispatch(host::TWebRequest& request, host::TWebResponse& response) {
  PageReply reply;
  try {
    reply = PublisherReply(request.PathInfo, BaseUrlOf(request), registry_, settings_);
  } catch (...) {
    reply = PageReply{std::nullopt, std::string(kHtmlContentType),
                      ErrorPage(std::current_exception())};
  }
  ApplyReply(reply, response);
  return true;
}

bool TWSDLHTMLPublish::ServiceInfo(host::TWebRequest& request, host::TWebResponse& response) {
  ApplyReply(ServiceInfoReply(request.PathInfo, BaseUrlOf(request),
                              request.QueryFields.Values("intf"),
                              request.QueryFields.Values("types"), registry_, settings_),
             response);
  return true;
}

}  // namespace orv::soap::publish
