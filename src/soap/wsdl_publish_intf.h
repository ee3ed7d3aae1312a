// IWSDLPublish: the publishing interface, which lets a SOAP client list the published port
// types and fetch their descriptions, and its record for the interface registry. The
// publisher's TWSDLPublish implements it; the registry makes a fresh instance for every call.
//
// Thread safety: an instance serves one call on one thread. The record functions are pure.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "soap/registry.h"

namespace orv::soap {

inline constexpr std::string_view kWSDLPublishName = "IWSDLPublish";
inline constexpr std::string_view kWSDLPublishDocumentation =
    "Lists all the PortTypes published by this Service";
inline constexpr std::string_view kWSDLPublishClassName = "TWSDLPublish";

class IWSDLPublish {
 public:
  static constexpr std::string_view kInterfaceName = kWSDLPublishName;

  virtual ~IWSDLPublish() = default;
  virtual std::vector<std::string> GetPortTypeList() = 0;
  virtual std::string GetWSDLForPortType(const std::string& PortType) = 0;
  virtual std::vector<std::string> GetTypeSystemsList() = 0;
  virtual std::string GetXSDForTypeSystem(const std::string& TypeSystem) = 0;
};

// "http://orvws.local/namespaces/Types-IWSDLPublish": the SOAP action of every operation.
std::string WSDLPublishSoapAction();
// The record of IWSDLPublish (kWSDLPublishNamespace, its documentation; no action set, no
// class bound).
InterfaceInfo WSDLPublishInterface();
// Registers it with its namespace, documentation and default SOAP action.
void RegisterWSDLPublishInterface(InterfaceRegistry& registry);

}  // namespace orv::soap
