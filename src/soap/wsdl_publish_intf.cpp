#include "soap/wsdl_publish_intf.h"

namespace orv::soap {

std::string WSDLPublishSoapAction() {
  std::string action(kWSDLPublishNamespace);
  action += '-';
  action += kWSDLPublishName;
  return action;
}

InterfaceInfo WSDLPublishInterface() {
  using K = ValueKind;
  const auto as = [](void* object) { return static_cast<IWSDLPublish*>(object); };
  const auto text = [](std::string t) {
    CallValue v;
    v.text = std::move(t);
    return v;
  };
  const auto list = [](std::vector<std::string> l) {
    CallValue v;
    v.list = std::move(l);
    return v;
  };
  InterfaceInfo info;
  info.name = kWSDLPublishName;
  info.ns = kWSDLPublishNamespace;
  info.documentation = kWSDLPublishDocumentation;
  info.operations = {
      {"GetPortTypeList", {}, K::TextArray,
       [as, list](void* o, const CallArgs&) { return list(as(o)->GetPortTypeList()); }},
      {"GetWSDLForPortType", {{"PortType", K::Text}}, K::Text,
       [as, text](void* o, const CallArgs& a) { return text(as(o)->GetWSDLForPortType(a[0].text)); }},
      {"GetTypeSystemsList", {}, K::TextArray,
       [as, list](void* o, const CallArgs&) { return list(as(o)->GetTypeSystemsList()); }},
      {"GetXSDForTypeSystem", {{"TypeSystem", K::Text}}, K::Text,
       [as, text](void* o, const CallArgs& a) {
         return text(as(o)->GetXSDForTypeSystem(a[0].text));
       }},
  };
  return info;
}

void RegisterWSDLPublishInterface(InterfaceRegistry& registry) {
  registry.RegisterInterface(WSDLPublishInterface(), kWSDLPublishNamespace,
                             kWSDLPublishDocumentation);
  registry.RegisterDefaultSoapAction(kWSDLPublishName, WSDLPublishSoapAction());
}

}  // namespace orv::soap
