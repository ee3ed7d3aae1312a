#include "soap/http_soap_dispatcher.h"

#include <utility>

namespace orv::soap {

SoapRequest THTTPSoapDispatcher::ToSoapRequest(host::TWebRequest& request) {
  SoapRequest r;
  r.method = request.Method;
  r.path_info = request.PathInfo;
  r.content_type = request.ContentType;
  r.soap_action = request.GetFieldByName("SOAPAction");
  if (r.soap_action.empty()) r.soap_action = request.GetFieldByName("HTTP_SOAPACTION");
  r.body = std::move(request.RawContent);
  r.ip_cliente = request.IpCliente;
  return r;
}

bool THTTPSoapDispatcher::Dispatch(host::TWebRequest& request,
                                   host::TWebResponse& response) const {
  SoapResponse r = HandleSoapRequest(ToSoapRequest(request), *registry_);
  if (r.fault && on_fault_) on_fault_();
  response.SetStatusCode(r.status);
  response.ContentType = r.content_type;
  if (r.status == 200) {
    response.SetContentStream(std::move(r.body));
  } else {
    // Endpoint-level faults are set as text; the UTF-8 content type sends them as UTF-8.
    response.SetContent(std::move(r.body));
  }
  return true;
}

}  // namespace orv::soap
