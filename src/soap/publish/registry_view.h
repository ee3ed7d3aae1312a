// Reads the interface registry into the publisher's records: the port types (interfaces with a
// bound class, in registration order) and the value types of the SOAP layer.
//
// Thread safety: any thread; the registry takes its own lock for each lookup.
#pragma once

#include <vector>

#include "soap/publish/port_types.h"
#include "soap/registry.h"

namespace orv::soap::publish {

// The publisher's record of a value type; `position` is its place in the registration order.
PublishedType PublishedTypeOf(const ValueTypeInfo& info, std::size_t position);
PublishedType PublishedTypeOf(ValueKind kind);

PortTypeEntry PortTypeOf(const InterfaceInfo& info);

// The interfaces that have an implementing class, in registration order.
std::vector<PortTypeEntry> RegisteredPortTypes(const InterfaceRegistry& registry);

// Every value type the SOAP layer knows, in registration order.
std::vector<PublishedType> RegisteredValueTypes();

}  // namespace orv::soap::publish
