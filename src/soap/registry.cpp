#include "soap/registry.h"

#include <array>
#include <algorithm>

#include "util/text.h"

namespace orv::soap {

namespace {

constexpr std::array<ValueTypeInfo, 5> kValueTypes = {{
    {ValueKind::Text, "std::string", "string", kXsdNamespace, "", "tkUnicodeString", "string"},
    {ValueKind::Int32, "std::int32_t", "int", kXsdNamespace, "", "tkInteger", "int"},
    {ValueKind::Float32, "float", "float", kXsdNamespace, "", "tkFloat", "float"},
    {ValueKind::Boolean, "bool", "boolean", kXsdNamespace, "", "tkEnumeration", "boolean"},
    {ValueKind::TextArray, "std::vector<std::string>", "ArrayOfString", kWSDLPublishNamespace,
     "", "tkDynArray", "ArrayOfString"},
}};

// Cut at the first "#".
std::string_view BeforeHash(std::string_view s) {
  const auto hash = s.find('#');
  return hash == std::string_view::npos ? s : s.substr(0, hash);
}

}  // namespace

std::string DerivedNamespace(std::string_view unit_name, std::string_view interface_name) {
  std::string ns = "urn:";
  ns += unit_name;
  ns += '-';
  ns += interface_name;
  return ns;
}

std::span<const ValueTypeInfo> ValueTypes() { return kValueTypes; }

const ValueTypeInfo& ValueTypeOf(ValueKind kind) {
  for (const auto& t : kValueTypes) {
    if (t.kind == kind) return t;
  }
  return kValueTypes[0];
}

std::string_view XmlTypeName(ValueKind kind) {
  switch (kind) {
    case ValueKind::None: return "";
    case ValueKind::TextArray: return "string";
    default: return ValueTypeOf(kind).xml_name;
  }
}

bool InvokableClass::Implements(std::string_view interface_name) const {
  auto eq = [&](const std::string& n) { return n == interface_name; };
  return std::any_of(interfaces.begin(), interfaces.end(), eq) ||
         std::any_of(parent_interfaces.begin(), parent_interfaces.end(), eq);
}

std::optional<std::size_t> InterfaceInfo::FindOperation(std::string_view op_name) const {
  for (std::size_t i = 0; i < operations.size(); ++i) {
    if (util::AsciiIEquals(operations[i].name, op_name)) return i;
  }
  return std::nullopt;
}

std::string InterfaceInfo::SoapAction(std::size_t index) const {
  if (!default_soap_action.empty()) return default_soap_action;
  std::string action = ns;
  action += '#';
  if (index < operations.size()) action += operations[index].name;
  return action;
}

Invokable InterfaceInfo::MakeInstance(const CallContext& ctx) const {
  if (!klass || !klass->factory) return {};
  return klass->factory(ctx);
}

void InterfaceRegistry::RegisterInterface(InterfaceInfo info, std::string_view ns,
                                          std::string_view documentation) {
  std::lock_guard lock(mutex_);
  for (const auto& existing : interfaces_) {
    if (existing->name == info.name) return;
  }
  if (!ns.empty()) info.ns = ns;
  if (info.ns.empty()) info.ns = DerivedNamespace(info.unit_name, info.name);
  if (!documentation.empty()) info.documentation = documentation;
  info.klass = nullptr;
  for (const auto& c : classes_) {
    if (c->Implements(info.name)) {
      info.klass = c;
      break;
    }
  }
  interfaces_.push_back(std::make_shared<const InterfaceInfo>(std::move(info)));
}

void InterfaceRegistry::RegisterDefaultSoapAction(std::string_view interface_name,
                                                  std::string_view action) {
  std::lock_guard lock(mutex_);
  for (auto& rec : interfaces_) {
    if (rec->name == interface_name) {
      auto copy = std::make_shared<InterfaceInfo>(*rec);
      copy->default_soap_action = action;
      rec = std::move(copy);
      return;
    }
  }
}

void InterfaceRegistry::RegisterInvokableClass(InvokableClass klass) {
  if (klass.interfaces.empty() && klass.parent_interfaces.empty()) {
    throw RegistryError("Invokable Class " + klass.name + " implements no interfaces");
  }
  std::lock_guard lock(mutex_);
  auto rec = std::make_shared<const InvokableClass>(std::move(klass));
  classes_.push_back(rec);
  for (auto& intf : interfaces_) {
    if (!intf->klass && rec->Implements(intf->name)) {
      auto copy = std::make_shared<InterfaceInfo>(*intf);
      copy->klass = rec;
      intf = std::move(copy);
    }
  }
}

InterfacePtr InterfaceRegistry::FindBySoapAction(std::string_view action) const {
  if (!action.empty() && action.front() == '"') {
    action.remove_prefix(1);
    if (!action.empty() && action.back() == '"') action.remove_suffix(1);
  }
  action = BeforeHash(action);
  std::lock_guard lock(mutex_);
  for (const auto& intf : interfaces_) {
    const std::string& own =
        intf->default_soap_action.empty() ? intf->ns : intf->default_soap_action;
    if (BeforeHash(own) == action) return intf;
  }
  return nullptr;
}

InterfacePtr InterfaceRegistry::FindByPath(std::string_view path) const {
  const auto slash = path.rfind('/');
  const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return FindByName(last);
}

InterfacePtr InterfaceRegistry::FindByName(std::string_view name) const {
  std::lock_guard lock(mutex_);
  for (const auto& intf : interfaces_) {
    if (util::AsciiIEquals(intf->name, name)) return intf;
  }
  return nullptr;
}

std::vector<InterfacePtr> InterfaceRegistry::Interfaces() const {
  std::lock_guard lock(mutex_);
  return interfaces_;
}

std::vector<std::shared_ptr<const InvokableClass>> InterfaceRegistry::Classes() const {
  std::lock_guard lock(mutex_);
  return classes_;
}

}  // namespace orv::soap
