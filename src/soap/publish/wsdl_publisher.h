// The WSDL publisher: the decisions on "wsdl*" paths (listing page, WSDL document of a port
// type, refusal of the administration paths), the service information page handler, and
// TWSDLPublish, the implementation of the publishing interface IWSDLPublish. Everything is
// built anew for each request from the interface registry and the request's base URL.
//
// Thread safety: every function may run on any request thread at the same time; the registry
// takes its own lock, the settings are read-only after start-up. A TWSDLPublish instance
// serves one call on one thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "soap/publish/port_types.h"
#include "soap/publish/wsdl_document.h"
#include "soap/registry.h"
#include "soap/wsdl_publish_intf.h"
#include "util/env.h"

namespace orv::soap::publish {

inline constexpr std::string_view kForbiddenPage =
    "<html><head></head><body><h1>Forbidden (403)</h1><P>Access Forbidden</P></body></html>";
inline constexpr int kForbiddenStatus = 403;

// What the publisher decides for a request path.
enum class PublisherRoute {
  kListing,    // last segment "wsdl"
  kForbidden,  // last or previous segment "admin"
  kWsdl,       // previous segment "wsdl": the document of the port type named by the last one
  kNothing,    // anything else: status 200, empty body, empty content type
};

struct PublisherDecision {
  PublisherRoute route = PublisherRoute::kNothing;
  std::string path;              // the request path without one trailing "/"
  std::string last_segment;      // text after the last "/"
  std::string previous_segment;  // text between the last two "/" (empty when none)
};

PublisherDecision DecidePublisherPath(std::string_view path);

// Fixed at process start: the program name that titles the pages and the port address file.
struct PublisherSettings {
  std::string program_name;  // executable file name without folder and extension
  std::string port_file;     // empty: there is no port address file
  // Where the port address file is read; not owned, it must outlive the settings. Null: the
  // file is never read.
  util::Env* env = &util::Env::Default();

  // The settings of a program at `executable_path` (both names derive from it).
  static PublisherSettings ForExecutable(std::string_view executable_path,
                                         util::Env& env = util::Env::Default());
};


// A response as the handlers fill it.
struct PageReply {
  std::optional<int> status;  // nullopt: the response's status is left as it was
  std::string content_type;
  std::string body;           // UTF-8 bytes
};

// The publisher handler (paths matching "wsdl*", any method). Never throws: an error while a
// response is built gives the error page with the status left as it was.
PageReply PublisherReply(std::string_view path, std::string_view base_url,
                         const InterfaceRegistry& registry, const PublisherSettings& settings);

// The service information page handler: the WS-Inspection document for "/inspection.wsil" (any
// letter case), else the service page; `intf` and `types` are the query fields of those names.
PageReply ServiceInfoReply(std::string_view path, std::string_view base_url, std::string_view intf,
                           std::string_view types, const InterfaceRegistry& registry,
                           const PublisherSettings& settings);

// The WSDL document of the registered interface named `name` (ASCII case ignored) with the
// given ports; nullopt when no registered interface has that name.
std::optional<std::string> WsdlForPortType(const InterfaceRegistry& registry,
                                           std::string_view name,
                                           const std::vector<PortAddress>& ports);

// The implementation of IWSDLPublish. Made per call by the registry; it publishes the registry
// it is registered in. A call through the SOAP endpoint has no request address, so the
// documents it returns have a service element without ports.
class TWSDLPublish final : public IWSDLPublish {
 public:
  explicit TWSDLPublish(const InterfaceRegistry& registry);

  std::vector<std::string> GetPortTypeList() override;
  std::string GetWSDLForPortType(const std::string& PortType) override;
  std::vector<std::string> GetTypeSystemsList() override;
  std::string GetXSDForTypeSystem(const std::string& TypeSystem) override;

 private:
  const InterfaceRegistry& registry_;
};

// Registers IWSDLPublish (namespace, documentation, default SOAP action) and the class
// TWSDLPublish. Called once at start-up, before IOrvWs is registered.
void RegisterWSDLPublish(InterfaceRegistry& registry);

}  // namespace orv::soap::publish
