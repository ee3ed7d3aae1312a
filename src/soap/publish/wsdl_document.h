// The WSDL 1.1 document of one port type (RPC style, SOAP encoding, SOAP 1.1 over HTTP), built
// from its registry entry and the addresses of its ports, written with the declaration and
// two-space indentation in a fixed attribute order.
//
// Thread safety: pure functions, any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "soap/publish/port_types.h"

namespace orv::soap::publish {

// The target namespace of every WSDL document: a placeholder, the same for all of them.
inline constexpr std::string_view kTargetNamespace = "http://tempuri.org/";

struct PortAddress {
  std::string name;
  std::string address;
};

// The port used when the port address file names none for `typed_name`: typed_name + "Port"
// at base_url + "/soap/" + typed_name.
PortAddress DefaultPort(std::string_view typed_name, std::string_view base_url);

// The document. `ports` fill the service element in order (none gives an empty service).
std::string WsdlDocument(const PortTypeEntry& entry, const std::vector<PortAddress>& ports);

// The XML Schema document that declares `type` (a schema of its namespace; a built-in type
// needs no declaration and gives an empty schema).
std::string XsdDocument(const PublishedType& type);

}  // namespace orv::soap::publish
