#include "soap/publish/registry_view.h"

#include <string>

namespace orv::soap::publish {

PublishedType PublishedTypeOf(const ValueTypeInfo& info, std::size_t position) {
  PublishedType t;
  t.type_name = std::string(info.type_name);
  t.xml_name = std::string(info.xml_name);
  t.xml_namespace = std::string(info.xml_namespace);
  t.class_name = std::string(info.class_name);
  t.kind = std::string(info.type_kind);
  // The types table shows a number that tells the types apart; the registration position does
  // that without showing memory addresses to any client.
  t.id = position + 1;
  t.ext_name = std::string(info.ext_name);
  t.is_text_array = info.kind == ValueKind::TextArray;
  return t;
}

PublishedType PublishedTypeOf(ValueKind kind) {
  const auto types = ValueTypes();
  for (std::size_t i = 0; i < types.size(); ++i) {
    if (types[i].kind == kind) {
      return PublishedTypeOf(types[i], i);
    }
  }
  return {};
}

PortTypeEntry PortTypeOf(const InterfaceInfo& info) {
  PortTypeEntry e;
  e.name = info.name;
  e.ns = info.ns;
  e.documentation = info.documentation;
  for (std::size_t k = 0; k < info.operations.size(); ++k) {
    const OperationInfo& op = info.operations[k];
    PublishedOperation out;
    out.name = op.name;
    out.soap_action = info.SoapAction(k);
    for (const ParamInfo& p : op.params) {
      out.params.push_back(PublishedParam{p.name, PublishedTypeOf(p.type), true, false});
    }
    out.has_result = op.result != ValueKind::None;
    if (out.has_result) {
      out.result = PublishedTypeOf(op.result);
    }
    e.operations.push_back(std::move(out));
  }
  return e;
}

std::vector<PortTypeEntry> RegisteredPortTypes(const InterfaceRegistry& registry) {
  std::vector<PortTypeEntry> entries;
  for (const InterfacePtr& info : registry.Interfaces()) {
    if (info && info->HasClass()) {
      entries.push_back(PortTypeOf(*info));
    }
  }
  return entries;
}

std::vector<PublishedType> RegisteredValueTypes() {
  std::vector<PublishedType> types;
  const auto all = ValueTypes();
  for (std::size_t i = 0; i < all.size(); ++i) {
    types.push_back(PublishedTypeOf(all[i], i));
  }
  return types;
}

}  // namespace orv::soap::publish
