// The publisher's view of the interface registry: the port types (interfaces with an
// implementing class) with their operations, parameters and XML Schema types, and the value
// types the SOAP layer knows. The service pages, the WS-Inspection document and the WSDL
// documents are pure functions of these records and of the request's base URL.
//
// Thread safety: plain values; each request builds and reads its own copies.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "soap/registry.h"
#include "soap/wsdl_publish_intf.h"

namespace orv::soap::publish {

// The publishing interface is published after every other port type.
inline constexpr std::string_view kPublisherPortType = kWSDLPublishName;

// One value type as the SOAP layer knows it.
struct PublishedType {
  std::string type_name;       // the type's own name in this program
  std::string xml_name;        // XML Schema name ("string"); empty when it has none
  std::string xml_namespace;   // kXsdNamespace for the built-in types
  std::string class_name;      // the class that carries it; empty for a plain type
  std::string kind;            // "tkUnicodeString", "tkInteger", ...; empty for a class type
  std::uintptr_t id = 0;       // identifies the type within the running process
  std::string ext_name;        // external name, normally the XML name
  bool is_text_array = false;  // a SOAP-encoded array of xsd:string

  bool IsBuiltIn() const { return xml_namespace == kXsdNamespace; }
};

struct PublishedParam {
  std::string name;
  PublishedType type;
  bool input = true;    // read from the request
  bool output = false;  // written to the response (out or in-out)
};

struct PublishedOperation {
  std::string name;
  std::string soap_action;
  std::vector<PublishedParam> params;
  bool has_result = false;
  PublishedType result;
};

struct PortTypeEntry {
  std::string name;
  std::string ns;
  std::string documentation;
  std::vector<PublishedOperation> operations;
};

// The entries in registration order with the publishing interface moved to the end: the order
// of the pages and of the WS-Inspection document.
std::vector<PortTypeEntry> PageOrder(std::vector<PortTypeEntry> registered);

// The entry whose name equals `name` without regard to ASCII letter case, or nullptr.
const PortTypeEntry* FindPortTypeIgnoringCase(const std::vector<PortTypeEntry>& entries,
                                              std::string_view name);

}  // namespace orv::soap::publish
