#include "soap/publish/wsdl_document.h"

#include <utility>

#include "soap/publish/xml_tree.h"

namespace orv::soap::publish {
namespace {

constexpr std::string_view kWsdlNs = "http://schemas.xmlsoap.org/wsdl/";
constexpr std::string_view kWsdlSoapNs = "http://schemas.xmlsoap.org/wsdl/soap/";
constexpr std::string_view kWsdlMimeNs = "http://schemas.xmlsoap.org/wsdl/mime/";
constexpr std::string_view kSoapHttpTransport = "http://schemas.xmlsoap.org/soap/http";

std::string S(std::string_view v) { return std::string(v); }

// The namespaces of the non-built-in types an operation set uses, in first-use order, each
// with the prefix it gets on the document element ("ns1", "ns2", ...), and the types of each.
struct SchemaGroup {
  std::string ns;
  std::string prefix;
  std::vector<PublishedType> types;
};

std::vector<SchemaGroup> CollectSchemas(const PortTypeEntry& entry) {
  std::vector<SchemaGroup> groups;
  auto note = [&groups](const PublishedType& t) {
    if (t.IsBuiltIn()) {
      return;
    }
    SchemaGroup* group = nullptr;
    for (SchemaGroup& g : groups) {
      if (g.ns == t.xml_namespace) {
        group = &g;
      }
    }
    if (group == nullptr) {
      group = &groups.emplace_back(
          SchemaGroup{t.xml_namespace, "ns" + std::to_string(groups.size() + 1), {}});
    }
    for (const PublishedType& known : group->types) {
      if (known.xml_name == t.xml_name) {
        return;
      }
    }
    group->types.push_back(t);
  };
  for (const PublishedOperation& op : entry.operations) {
    for (const PublishedParam& p : op.params) {
      note(p.type);
    }
    if (op.has_result) {
      note(op.result);
    }
  }
  return groups;
}

std::string QualifiedType(const PublishedType& t, const std::vector<SchemaGroup>& groups) {
  if (t.IsBuiltIn()) {
    return "xs:" + t.xml_name;
  }
  for (const SchemaGroup& g : groups) {
    if (g.ns == t.xml_namespace) {
      return g.prefix + ":" + t.xml_name;
    }
  }
  return t.xml_name;
}

// The declaration of one type inside an xs:schema element.
void AddTypeDeclaration(XmlElement& schema, const PublishedType& t) {
  if (t.is_text_array) {
    XmlElement& restriction = schema.Add("xs:complexType")
                                  .Attr("name", t.xml_name)
                                  .Add("xs:complexContent")
                                  .Add("xs:restriction");
    restriction.Attr("base", "soapenc:Array");
    restriction.Add("xs:sequence");
    restriction.Add("xs:attribute")
        .Attr("ref", "soapenc:arrayType")
        .Attr("wsdl:arrayType", "xs:string[]");
    return;
  }
  // Other non-built-in types are carried as text.
  schema.Add("xs:simpleType").Attr("name", t.xml_name).Add("xs:restriction").Attr("base",
                                                                                 "xs:string");
}

void FillSchema(XmlElement& schema, const std::string& ns, const std::vector<PublishedType>& types) {
  schema.Attr("targetNamespace", ns);
  bool needs_soapenc = false;
  for (const PublishedType& t : types) {
    needs_soapenc = needs_soapenc || t.is_text_array;
  }
  if (needs_soapenc) {
    schema.Attr("xmlns:wsdl", S(kWsdlNs));
    schema.Add("xs:import").Attr("namespace", S(kSoapEncNamespace));
  }
  for (const PublishedType& t : types) {
    AddTypeDeclaration(schema, t);
  }
}

XmlElement SoapBody(std::string_view tag, const std::string& ns) {
  XmlElement e{S(tag)};
  e.Add("soap:body")
      .Attr("use", "encoded")
      .Attr("encodingStyle", S(kSoapEncNamespace))
      .Attr("namespace", ns);
  return e;
}

}  // namespace

PortAddress DefaultPort(std::string_view typed_name, std::string_view base_url) {
  return PortAddress{S(typed_name) + "Port", S(base_url) + "/soap/" + S(typed_name)};
}

std::string WsdlDocument(const PortTypeEntry& entry, const std::vector<PortAddress>& ports) {
  const std::string& I = entry.name;
  const std::vector<SchemaGroup> schemas = CollectSchemas(entry);

  XmlElement root("definitions");
  root.Attr("xmlns", S(kWsdlNs))
      .Attr("xmlns:xs", S(kXsdNamespace))
      .Attr("name", I + "service")
      .Attr("targetNamespace", S(kTargetNamespace))
      .Attr("xmlns:tns", S(kTargetNamespace))
      .Attr("xmlns:soap", S(kWsdlSoapNs))
      .Attr("xmlns:soapenc", S(kSoapEncNamespace))
      .Attr("xmlns:mime", S(kWsdlMimeNs));
  for (const SchemaGroup& g : schemas) {
    root.Attr("xmlns:" + g.prefix, g.ns);
  }

  if (!schemas.empty()) {
    XmlElement& types = root.Add("types");
    for (const SchemaGroup& g : schemas) {
      FillSchema(types.Add("xs:schema"), g.ns, g.types);
    }
  }

  auto message_name = [](const PublishedOperation& op, std::size_t k, std::string_view kind) {
    return op.name + std::to_string(k) + S(kind);
  };

  for (std::size_t k = 0; k < entry.operations.size(); ++k) {
    const PublishedOperation& op = entry.operations[k];
    XmlElement& request = root.Add("message");
    request.Attr("name", message_name(op, k, "Request"));
    for (const PublishedParam& p : op.params) {
      if (p.input) {
        request.Add("part").Attr("name", p.name).Attr("type", QualifiedType(p.type, schemas));
      }
    }
    XmlElement& response = root.Add("message");
    response.Attr("name", message_name(op, k, "Response"));
    for (const PublishedParam& p : op.params) {
      if (p.output) {
        response.Add("part").Attr("name", p.name).Attr("type", QualifiedType(p.type, schemas));
      }
    }
    if (op.has_result) {
      response.Add("part").Attr("name", "return").Attr("type", QualifiedType(op.result, schemas));
    }
  }

  XmlElement& port_type = root.Add("portType");
  port_type.Attr("name", I);
  for (std::size_t k = 0; k < entry.operations.size(); ++k) {
    const PublishedOperation& op = entry.operations[k];
    XmlElement& o = port_type.Add("operation");
    o.Attr("name", op.name);
    o.Add("input").Attr("message", "tns:" + message_name(op, k, "Request"));
    o.Add("output").Attr("message", "tns:" + message_name(op, k, "Response"));
  }

  XmlElement& binding = root.Add("binding");
  binding.Attr("name", I + "binding").Attr("type", "tns:" + I);
  binding.Add("soap:binding").Attr("style", "rpc").Attr("transport", S(kSoapHttpTransport));
  for (const PublishedOperation& op : entry.operations) {
    XmlElement& o = binding.Add("operation");
    o.Attr("name", op.name);
    o.Add("soap:operation").Attr("soapAction", op.soap_action).Attr("style", "rpc");
    o.children.push_back(SoapBody("input", entry.ns));
    o.children.push_back(SoapBody("output", entry.ns));
  }

  XmlElement& service = root.Add("service");
  service.Attr("name", I + "service");
  for (const PortAddress& port : ports) {
    XmlElement& p = service.Add("port");
    p.Attr("name", port.name).Attr("binding", "tns:" + I + "binding");
    p.Add("soap:address").Attr("location", port.address);
  }

  return WriteIndented(root);
}

std::string XsdDocument(const PublishedType& type) {
  XmlElement schema("xs:schema");
  schema.Attr("xmlns:xs", S(kXsdNamespace));
  if (type.is_text_array) {
    schema.Attr("xmlns:soapenc", S(kSoapEncNamespace));
  }
  if (type.IsBuiltIn()) {
    schema.Attr("targetNamespace", type.xml_namespace);
  } else {
    FillSchema(schema, type.xml_namespace, {type});
  }
  return WriteIndented(schema);
}

}  // namespace orv::soap::publish
