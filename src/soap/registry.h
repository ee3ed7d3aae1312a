// The interface registry: the one table of the invokable interfaces with their namespaces, SOAP
// actions, documentation, operations in declaration order (each with its parameter and result
// value types and what calls it on an instance), and the class bound to each interface, whose
// factory makes a fresh implementation instance for every call. It knows no interface of its
// own: each interface's header gives its record (orvws_intf.h, wsdl_publish_intf.h).
//
// The SOAP endpoint finds the interface and operation of each request here and calls through
// the operation's record; the service pages and the WSDL publisher describe the same records.
//
// Thread safety: every method takes the registry's single lock for its own duration and may be
// called from any thread. Registration happens on the main thread at start-up, before the
// listener runs; the records handed out are immutable snapshots (a later registration swaps
// in a new record, it never changes one already handed out), so callers read them without the
// lock. Value-type metadata (ValueTypes) is constant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>


namespace orv::soap {

// ---------------------------------------------------------------------------------------------
// Fixed names and namespaces.

inline constexpr std::string_view kXsdNamespace = "http://www.w3.org/2001/XMLSchema";
inline constexpr std::string_view kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr std::string_view kSoapEncNamespace = "http://schemas.xmlsoap.org/soap/encoding/";
inline constexpr std::string_view kSoapEnvNamespace = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr std::string_view kSoap12EnvNamespace = "http://www.w3.org/2003/05/soap-envelope";

// The publishing interface's namespace: a fixed HTTP URI of our own whose path is
// "/namespaces/Types". Its SOAP action (every operation) is this + "-IWSDLPublish".
inline constexpr std::string_view kWSDLPublishNamespace = "http://orvws.local/namespaces/Types";

// "urn:" + unit + "-" + interface: the namespace of an interface registered without one.
std::string DerivedNamespace(std::string_view unit_name, std::string_view interface_name);

// ---------------------------------------------------------------------------------------------
// Value types.

enum class ValueKind { None, Text, Int32, Float32, Boolean, TextArray };

// One value type as the SOAP layer knows it (listed by the service page's types table and by
// GetTypeSystemsList).
struct ValueTypeInfo {
  ValueKind kind;
  std::string_view type_name;      // the type's own name in this program ("std::string")
  std::string_view xml_name;       // XML Schema name ("string")
  std::string_view xml_namespace;  // kXsdNamespace for the built-in types
  std::string_view class_name;     // the class that carries it; empty for a plain type
  std::string_view type_kind;      // "tkUnicodeString", "tkInteger", ...; empty for a class
  std::string_view ext_name;       // external name
};

// Every value type known to the SOAP layer, in registration order: text, 32-bit integer,
// 32-bit float, Boolean, list of text (a SOAP-encoded array of string, which lives in
// kWSDLPublishNamespace because it is not an XML Schema built-in type).
std::span<const ValueTypeInfo> ValueTypes();
// The entry of a kind (never None).
const ValueTypeInfo& ValueTypeOf(ValueKind kind);
// "string", "int", "float", "boolean"; "string" for TextArray (its item type); "" for None.
std::string_view XmlTypeName(ValueKind kind);

// ---------------------------------------------------------------------------------------------
// Interface and class records.

// What one call knows about the HTTP request that carries it. Each request has its own,
// so concurrent collectors never see each other's address.
struct CallContext {
  std::string ip_cliente;   // the peer address of the request's connection, as text
};

// One value of a call: a parameter read from the request, or the result (the member of the
// value's kind holds it).
struct CallValue {
  std::string text;
  std::int32_t i = 0;
  float f = 0;
  bool b = false;
  std::vector<std::string> list;
  // A long text result made in pieces (GetSQL's script): the text is these, in order. Each
  // piece holds whole characters; the answer is written piece by piece and never joined.
  std::vector<std::string> parts;

  static CallValue Text(std::string t) {
    CallValue v;
    v.text = std::move(t);
    return v;
  }
  static CallValue TextParts(std::vector<std::string> p) {
    CallValue v;
    v.parts = std::move(p);
    return v;
  }
  static CallValue Boolean(bool value) {
    CallValue v;
    v.b = value;
    return v;
  }
  static CallValue List(std::vector<std::string> l) {
    CallValue v;
    v.list = std::move(l);
    return v;
  }
};
using CallArgs = std::vector<CallValue>;
// Calls one operation: `object` is the instance seen as the operation's interface, `args` the
// parameters in declaration order.
using OperationInvoker = std::function<CallValue(void* object, const CallArgs& args)>;

struct ParamInfo {
  std::string name;
  ValueKind type = ValueKind::Text;
};

struct OperationInfo {
  std::string name;
  std::vector<ParamInfo> params;   // all input parameters passed by value, in order
  ValueKind result = ValueKind::None;
  OperationInvoker invoke;
};

// One implementation instance, made for one call. It owns the object and sees it as each
// interface its class implements (an interface type I names itself in I::kInterfaceName); the
// object is destroyed with the last copy of this value (the endpoint drops it after the
// response has been built).
class Invokable {
 public:
  Invokable() = default;

  template <class T, class... I>
  static Invokable Of(std::unique_ptr<T> object) {
    Invokable inv;
    std::shared_ptr<T> shared(std::move(object));
    inv.views_ = {{std::string_view(I::kInterfaceName), static_cast<void*>(static_cast<I*>(shared.get()))}...};
    inv.holder_ = std::move(shared);
    return inv;
  }

  // The instance as the interface of that name; null when its class does not implement it.
  void* As(std::string_view interface_name) const {
    for (const auto& [name, object] : views_)
      if (name == interface_name) return object;
    return nullptr;
  }
  template <class I>
  I* As() const {
    return static_cast<I*>(As(I::kInterfaceName));
  }
  bool empty() const { return holder_ == nullptr; }

 private:
  std::shared_ptr<void> holder_;
  std::vector<std::pair<std::string_view, void*>> views_;
};

using ClassFactory = std::function<Invokable(const CallContext&)>;

// A class record: its name, the interfaces it implements (its own table and its parent's) and
// the factory that makes an instance per call.
struct InvokableClass {
  std::string name;
  std::vector<std::string> interfaces;
  std::vector<std::string> parent_interfaces;
  ClassFactory factory;

  bool Implements(std::string_view interface_name) const;
};

// The class record of T, implementing the interfaces I... (its interface table). The instance
// is made by `make`, or by T's constructor taking the call's context (or, failing that, T's
// default constructor).
template <class T, class... I>
InvokableClass MakeInvokableClass(std::string name,
                                  std::function<std::unique_ptr<T>(const CallContext&)> make = {}) {
  static_assert(sizeof...(I) > 0 && (std::is_base_of_v<I, T> && ...),
                "a class record names the interfaces its class implements");
  InvokableClass c;
  c.name = std::move(name);
  c.interfaces = {std::string(I::kInterfaceName)...};
  if (make) {
    c.factory = [make = std::move(make)](const CallContext& ctx) {
      return Invokable::Of<T, I...>(make(ctx));
    };
  } else if constexpr (std::is_constructible_v<T, const CallContext&>) {
    c.factory = [](const CallContext& ctx) { return Invokable::Of<T, I...>(std::make_unique<T>(ctx)); };
  } else if constexpr (std::is_default_constructible_v<T>) {
    c.factory = [](const CallContext&) { return Invokable::Of<T, I...>(std::make_unique<T>()); };
  }
  return c;
}

struct InterfaceInfo {
  std::string name;                    // wire name ("IOrvWs")
  std::string unit_name;               // declaring module ("UOrvWsIntf"); may be empty
  std::string ns;                      // namespace
  std::string default_soap_action;     // empty: each operation gets ns + "#" + name
  std::string documentation;
  std::vector<OperationInfo> operations;  // declaration order
  std::shared_ptr<const InvokableClass> klass;  // bound class; null while unbound

  bool HasClass() const { return klass != nullptr; }
  // Index in declaration order of the operation named `name` (ASCII case ignored).
  std::optional<std::size_t> FindOperation(std::string_view name) const;
  // The SOAP action of operation `index` (no quotation marks).
  std::string SoapAction(std::size_t index) const;
  // A new instance of the bound class for one call; empty when unbound.
  Invokable MakeInstance(const CallContext& ctx) const;
};

using InterfacePtr = std::shared_ptr<const InterfaceInfo>;

// Registering a class with an empty interface table (own and parent's).
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class InterfaceRegistry {
 public:
  // Adds an interface record. An empty `ns` is derived from the unit and interface names;
  // `documentation` replaces the record's own when not empty. Registering a name already
  // registered does nothing. Binds the first registered class that implements it.
  void RegisterInterface(InterfaceInfo info, std::string_view ns = {},
                         std::string_view documentation = {});
  // Records one SOAP action used for every operation of the interface.
  void RegisterDefaultSoapAction(std::string_view interface_name, std::string_view action);
  // Adds a class record and binds it to every registered interface it implements that has no
  // class yet. Throws RegistryError "Invokable Class %s implements no interfaces" when both
  // of its interface tables are empty.
  void RegisterInvokableClass(InvokableClass klass);

  // By SOAP action: one leading and then one trailing double quote removed, everything from
  // the first "#" cut; compared exactly with each interface's default action (else its
  // namespace), cut at "#" the same way. Null when none matches.
  InterfacePtr FindBySoapAction(std::string_view action) const;
  // By path: the text after the last "/" compared with each interface name, ASCII case
  // ignored. Null when none matches.
  InterfacePtr FindByPath(std::string_view path) const;
  // By interface name, ASCII case ignored.
  InterfacePtr FindByName(std::string_view name) const;
  // Every interface record in registration order.
  std::vector<InterfacePtr> Interfaces() const;
  // Every class record in registration order.
  std::vector<std::shared_ptr<const InvokableClass>> Classes() const;


 private:
  mutable std::mutex mutex_;
  std::vector<InterfacePtr> interfaces_;
  std::vector<std::shared_ptr<const InvokableClass>> classes_;
};

}  // namespace orv::soap
