#include "soap/publish/wsdl_publisher.h"

#include <utility>

#include "soap/publish/port_file.h"
#include "soap/publish/registry_view.h"
#include "soap/publish/service_pages.h"
#include "soap/publish/xml_tree.h"
#include "util/platform.h"
#include "util/text.h"
#include "soap/xml_writer.h"

namespace orv::soap::publish {
namespace {

constexpr std::string_view kCrLf = "\r\n";

std::string S(std::string_view v) { return std::string(v); }

// The publisher's bodies are lists of lines, each followed by CR LF.
std::string AsLine(std::string_view text) { return S(text) + S(kCrLf); }

std::string NotFoundPage(std::string_view name) {
  // The name comes from the request path: escaped so that it stays text.
  return "<html><head></head><body><h1>Error Encountered</h1><P>Interface " +
         XmlWriter::EscapeAttr(name) + " not found</P></body></html>";
}

}  // namespace

PublisherDecision DecidePublisherPath(std::string_view path) {
  PublisherDecision d;
  if (!path.empty() && path.back() == '/') {
    path.remove_suffix(1);
  }
  d.path = S(path);
  const auto last_slash = path.rfind('/');
  if (last_slash == std::string_view::npos) {
    d.last_segment = S(path);
  } else {
    d.last_segment = S(path.substr(last_slash + 1));
    const std::string_view before = path.substr(0, last_slash);
    const auto previous_slash = before.rfind('/');
    if (previous_slash != std::string_view::npos) {
      d.previous_segment = S(before.substr(previous_slash + 1));
    }
  }

  if (d.last_segment == "wsdl") {
    d.route = PublisherRoute::kListing;
  } else if (d.last_segment == "admin") {
    d.route = PublisherRoute::kForbidden;
  } else if (d.previous_segment == "wsdl") {
    d.route = PublisherRoute::kWsdl;
  } else if (d.previous_segment == "admin") {
    d.route = PublisherRoute::kForbidden;
  } else {
    d.route = PublisherRoute::kNothing;
  }
  return d;
}

PublisherSettings PublisherSettings::ForExecutable(std::string_view executable_path,
                                                   util::Env& env) {
  PublisherSettings s;
  s.env = &env;
  if (executable_path.empty()) {
    return s;
  }
  s.port_file = PortFilePath(executable_path);
  // The program name: the file name without folder and extension.
  std::string stem = s.port_file.substr(0, s.port_file.size() - kPortFileSuffix.size());
  const auto sep = stem.find_last_of(util::platform::kFolderSeparators);
  s.program_name = sep == std::string::npos ? stem : stem.substr(sep + 1);
  return s;
}

std::optional<std::string> WsdlForPortType(const InterfaceRegistry& registry,
                                           std::string_view name,
                                           const std::vector<PortAddress>& ports) {
  const InterfacePtr info = registry.FindByName(name);
  if (!info) {
    return std::nullopt;
  }
  return WsdlDocument(PortTypeOf(*info), ports);
}

PageReply PublisherReply(std::string_view path, std::string_view base_url,
                         const InterfaceRegistry& registry, const PublisherSettings& settings) {
  try {
    const PublisherDecision d = DecidePublisherPath(path);
    switch (d.route) {
      case PublisherRoute::kListing:
        return PageReply{200, S(kHtmlContentType),
                         ListingPage(PageOrder(RegisteredPortTypes(registry)),
                                     settings.program_name, S(base_url) + d.path)};
      case PublisherRoute::kForbidden:
        return PageReply{kForbiddenStatus, S(kHtmlContentType), AsLine(kForbiddenPage)};
      case PublisherRoute::kWsdl: {
        if (!registry.FindByName(d.last_segment)) {
          return PageReply{200, S(kHtmlContentType), AsLine(NotFoundPage(d.last_segment))};
        }
        const std::vector<PortAddress> ports =
            settings.env ? PortsFor(*settings.env, settings.port_file, d.last_segment, base_url)
                           : std::vector<PortAddress>{DefaultPort(d.last_segment, base_url)};
        const std::optional<std::string> doc = WsdlForPortType(registry, d.last_segment, ports);
        if (!doc) {
          return PageReply{200, S(kHtmlContentType), AsLine(NotFoundPage(d.last_segment))};
        }
        return PageReply{std::nullopt, S(kXmlContentType), AsLine(*doc)};
      }
      case PublisherRoute::kNothing:
        break;
    }
    return PageReply{200, "", ""};
  } catch (...) {
    return PageReply{std::nullopt, S(kHtmlContentType), ErrorPage(std::current_exception())};
  }
}

PageReply ServiceInfoReply(std::string_view path, std::string_view base_url, std::string_view intf,
                           std::string_view types, const InterfaceRegistry& registry,
                           const PublisherSettings& settings) {
  const std::vector<PortTypeEntry> entries = PageOrder(RegisteredPortTypes(registry));
  if (util::AsciiIEquals(path, kInspectionPath)) {
    return PageReply{200, S(kXmlContentType), InspectionDocument(entries, base_url)};
  }
  std::string_view selected;
  for (const PortTypeEntry& e : entries) {
    if (e.name == intf) {
      selected = e.name;
    }
  }
  std::optional<std::vector<PublishedType>> value_types;
  if (types == "1") {
    try {
      value_types = RegisteredValueTypes();
    } catch (...) {
      value_types.reset();  // the page goes out without the table
    }
  }
  return PageReply{200, S(kHtmlContentType),
                   ServicePage(entries, settings.program_name, base_url, selected,
                               value_types ? &*value_types : nullptr)};
}

TWSDLPublish::TWSDLPublish(const InterfaceRegistry& registry) : registry_(registry) {}

std::vector<std::string> TWSDLPublish::GetPortTypeList() {
  std::vector<std::string> names;
  for (const InterfacePtr& info : registry_.Interfaces()) {
    names.push_back(info->name);
  }
  return names;
}

std::string TWSDLPublish::GetWSDLForPortType(const std::string& PortType) {
  return WsdlForPortType(registry_, PortType, {}).value_or(std::string());
}

std::vector<std::string> TWSDLPublish::GetTypeSystemsList() {
  std::vector<std::string> namespaces;
  for (const PublishedType& t : RegisteredValueTypes()) {
    bool known = false;
    for (const std::string& ns : namespaces) {
      known = known || ns == t.xml_namespace;
    }
    if (!known) {
      namespaces.push_back(t.xml_namespace);
    }
  }
  return namespaces;
}

std::string TWSDLPublish::GetXSDForTypeSystem(const std::string& TypeSystem) {
  std::string xsd;
  for (const PublishedType& t : RegisteredValueTypes()) {
    if (t.xml_namespace == TypeSystem) {
      xsd = XsdDocument(t);  // the last matching type wins
    }
  }
  return xsd;
}

void RegisterWSDLPublish(InterfaceRegistry& registry) {
  RegisterWSDLPublishInterface(registry);
  registry.RegisterInvokableClass(MakeInvokableClass<TWSDLPublish, IWSDLPublish>(
      S(kWSDLPublishClassName),
      [&registry](const CallContext&) { return std::make_unique<TWSDLPublish>(registry); }));
}

}  // namespace orv::soap::publish
