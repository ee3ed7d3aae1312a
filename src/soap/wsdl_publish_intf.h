// IWSDLPublish: the publishing interface, which lets a SOAP client list the published port
// types and fetch their descriptions. The publisher's TWSDLPublish implements it; the registry
// makes a fresh instance for every call.
//
// Thread safety: an instance serves one call on one thread.
#pragma once

#include <string>
#include <vector>

#include "soap/orvws_intf.h"

namespace orv::soap {

class IWSDLPublish {
 public:
  virtual ~IWSDLPublish() = default;
  virtual std::vector<std::string> GetPortTypeList() = 0;
  virtual std::string GetWSDLForPortType(const std::string& PortType) = 0;
  virtual std::vector<std::string> GetTypeSystemsList() = 0;
  virtual std::string GetXSDForTypeSystem(const std::string& TypeSystem) = 0;
};

}  // namespace orv::soap
