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
  InterfaceInfo info;
  info.name = kWSDLPublishName;
  info.ns = kWSDLPublishNamespace;
  info.documentation = kWSDLPublishDocumentation;
  info.operations = {
      {"GetPortTypeList", {}, K::TextArray,
       [as](void* o, const CallArgs&) { return CallValue::List(as(o)->GetPortTypeList()); }},
      {"GetWSDLForPortType", {{"PortType", K::Text}}, K::Text,
       [as](void* o, const CallArgs& a) { return CallValue::Text(as(o)->GetWSDLForPortType(a[0].text)); }},
      {"GetTypeSystemsList", {}, K::TextArray,
       [as](void* o, const CallArgs&) { return CallValue::List(as(o)->GetTypeSystemsList()); }},
      {"GetXSDForTypeSystem", {{"TypeSystem", K::Text}}, K::Text,
       [as](void* o, const CallArgs& a) {
         return CallValue::Text(as(o)->GetXSDForTypeSystem(a[0].text));
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
