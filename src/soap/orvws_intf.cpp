#include "soap/orvws_intf.h"

namespace orv::soap {

InterfaceInfo OrvWsInterface() {
  using K = ValueKind;
  const auto as = [](void* object) { return static_cast<IOrvWs*>(object); };
  InterfaceInfo info;
  info.name = kOrvWsName;
  info.unit_name = kOrvWsUnitName;
  info.operations = {
      {"Auth", {{"KeyValue", K::Text}, {"UserName", K::Text}}, K::Boolean,
       [as](void* o, const CallArgs& a) {
         return CallValue::Boolean(as(o)->Auth(a[0].text, a[1].text));
       }},
      {"Exec", {{"Value", K::Text}}, K::Text,
       [as](void* o, const CallArgs& a) { return CallValue::Text(as(o)->Exec(a[0].text)); }},
      {"GetSQL", {{"Value", K::Text}}, K::Text,
       [as](void* o, const CallArgs& a) {
         return CallValue::TextParts(as(o)->GetSQLEmPartes(a[0].text));
       }},
      {"AddItemPesquisa",
       {{"CodPesquisa", K::Int32}, {"CodConcorrente", K::Int32}, {"CodEan", K::Text},
        {"ValPesquisa", K::Float32}},
       K::Text,
       [as](void* o, const CallArgs& a) {
         return CallValue::Text(as(o)->AddItemPesquisa(a[0].i, a[1].i, a[2].text, a[3].f));
       }},
  };
  return info;
}

void RegisterOrvWsInterface(InterfaceRegistry& registry) {
  registry.RegisterInterface(OrvWsInterface());
}

}  // namespace orv::soap
