#include "soap/endpoint.h"

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "soap/mime_multipart.h"
#include "soap/soap_values.h"
#include "soap/xml_reader.h"
#include "soap/xml_writer.h"
#include "util/text.h"

namespace orv::soap {

namespace {

constexpr std::string_view kFaultServer = "SOAP-ENV:Server";
constexpr std::string_view kFaultMustUnderstand = "SOAP-ENV:MustUnderstand";

// One decoded parameter: the text, or the converted number, by its declared type.
// The operation chosen from the Body and its parameter values in declaration order.
struct DecodedCall {
  std::size_t op = 0;
  CallArgs params;
};

bool IsEnvelopeNamespace(std::string_view ns) {
  return ns == kSoapEnvNamespace || ns == kSoap12EnvNamespace;
}

// encodingStyle in a SOAP envelope namespace must name SOAP section 5 encoding.
void CheckEncodingStyle(const xmlNode* node) {
  std::string value;
  if (GetAttr(node, "encodingStyle", kSoapEnvNamespace.data(), value) ||
      GetAttr(node, "encodingStyle", kSoap12EnvNamespace.data(), value)) {
    if (value != kSoapEncNamespace) throw SoapFault("Unsupported SOAP encodingStyle " + value);
  }
}

bool IsNil(const xmlNode* node) {
  std::string v;
  return (GetAttr(node, "nil", kXsiNamespace.data(), v) && IsTrueFlag(v)) ||
         (GetAttr(node, "NULL", kXsiNamespace.data(), v) && IsTrueFlag(v));
}

// Decodes one request document against the interface (every check before the call).
class Decoder {
 public:
  Decoder(const InterfaceInfo& intf, xmlDoc* doc) : intf_(intf), doc_(doc) {}

  DecodedCall Decode() {
    xmlNode* env = xmlDocGetRootElement(doc_);
    if (env == nullptr || LocalName(env) != "Envelope" || !IsEnvelopeNamespace(NamespaceOf(env)) ||
        env->children == nullptr) {
      throw SoapFault("Invalid SOAP request");
    }
    CheckEncodingStyle(env);
    std::optional<DecodedCall> call;
    for (xmlNode* child = FirstElementChild(env); child; child = NextElement(child)) {
      const std::string_view name = LocalName(child);
      if (name == "Header") {
        CheckHeader(child);
      } else if (name == "Body") {
        if (call) throw SoapFault("Multiple body elements not supported");
        call = ReadBody(child);
      }
    }
    if (!call) throw SoapFault("The SOAP Envelope holds no Body element");
    return std::move(*call);
  }

 private:
  static void CheckHeader(xmlNode* header) {
    for (xmlNode* entry = FirstElementChild(header); entry; entry = NextElement(entry)) {
      std::string v;
      if (GetAttr(entry, "mustUnderstand", nullptr, v) && IsTrueFlag(v)) {
        throw SoapFault("Soap header " + std::string(LocalName(entry)) +
                            " with attribute 'mustUnderstand' set to true was not handled",
                        std::string(kFaultMustUnderstand));
      }
    }
  }

  DecodedCall ReadBody(xmlNode* body) {
    xmlNode* op_elem = FirstElementChild(body);
    if (op_elem == nullptr) throw SoapFault("The SOAP Body holds no operation element");
    CheckEncodingStyle(op_elem);
    const auto op = intf_.FindOperation(LocalName(op_elem));
    if (!op) {
      throw SoapFault("No method named '" + std::string(LocalName(op_elem)) +
                      "' is supported by interface '" + intf_.name + "'");
    }
    DecodedCall call;
    call.op = *op;
    const OperationInfo& info = intf_.operations[*op];
    call.params.resize(info.params.size());
    for (std::size_t p = 0; p < info.params.size(); ++p) {
      xmlNode* elem = FirstElementChild(op_elem);
      while (elem && !util::AsciiIEquals(LocalName(elem), info.params[p].name)) {
        elem = NextElement(elem);
      }
      if (elem) ReadParam(elem, info.params[p], call.params[p]);
    }
    return call;
  }

  void ReadParam(xmlNode* elem, const ParamInfo& param, CallValue& slot) {
    std::string href;
    if (GetAttr(elem, "href", nullptr, href)) {
      if (xmlNode* target = Reference(href)) elem = target;
    }
    CheckEncodingStyle(elem);
    const bool nil = IsNil(elem);
    std::string text = ElementText(elem);
    switch (param.type) {
      case ValueKind::Int32:
        slot.i = nil ? 0 : ParseInt32(text);
        break;
      case ValueKind::Float32:
        slot.f = nil ? 0.0f : ParseFloat32(text);
        break;
      case ValueKind::Text:
        slot.text = std::move(text);
        break;
      default:
        throw SoapFault("Parameter " + param.name + " has a type that cannot be read");
    }
  }

  // The reference table: every element with an unprefixed "id", keyed by "#" + id (the first
  // element of an id wins). Built on the first href; nothing else reads it.
  xmlNode* Reference(const std::string& href) {
    if (!refs_) {
      refs_.emplace();
      std::string id;
      ForEachNode(xmlDocGetRootElement(doc_), [&](xmlNode* n) {
        if (n->type == XML_ELEMENT_NODE && GetAttr(n, "id", nullptr, id)) {
          refs_->emplace("#" + id, n);
        }
      });
    }
    const auto it = refs_->find(href);
    return it == refs_->end() ? nullptr : it->second;
  }

  const InterfaceInfo& intf_;
  xmlDoc* doc_;
  std::optional<std::unordered_map<std::string, xmlNode*>> refs_;
};

// Calls the operation through its record, on the instance seen as the call's interface.
CallValue Invoke(const InterfaceInfo& intf, const Invokable& inst, const DecodedCall& call) {
  const OperationInfo& op = intf.operations[call.op];
  void* object = inst.As(intf.name);
  if (object == nullptr || !op.invoke) {
    throw SoapFault("Operation '" + op.name + "' of interface '" + intf.name +
                    "' has no implementation");
  }
  return op.invoke(object, call.params);
}

void OpenEnvelope(XmlWriter& w) {
  w.Declaration();
  w.Open("SOAP-ENV:Envelope")
      .Attr("xmlns:SOAP-ENV", kSoapEnvNamespace)
      .Attr("xmlns:xsd", kXsdNamespace)
      .Attr("xmlns:xsi", kXsiNamespace)
      .Attr("xmlns:SOAP-ENC", kSoapEncNamespace);
}

}  // namespace

// The answer's envelope; a text result made in pieces gives the envelope in pieces too, each
// piece of text escaped and released as soon as it is written.
std::vector<std::string> EncodeCallResponse(const InterfaceInfo& intf, const OperationInfo& op,
                                            CallValue& r) {
  std::vector<std::string> pieces;
  const ValueKind kind = op.result;
  XmlWriter w;
  OpenEnvelope(w);
  w.Open("SOAP-ENV:Body")
      .Attr("SOAP-ENV:encodingStyle", kSoapEncNamespace)
      .Attr("xmlns:NS1", intf.ns);
  w.Open("NS1:" + op.name + "Response");
  if (kind == ValueKind::TextArray) {
    w.Open("return")
        .Attr("xsi:type", "SOAP-ENC:Array")
        .Attr("SOAP-ENC:arrayType", "xsd:string[" + std::to_string(r.list.size()) + "]");
    for (const auto& item : r.list) w.Element("item", item);
    w.Close();
  } else if (kind != ValueKind::None) {
    w.Open("return").Attr("xsi:type", "xsd:" + std::string(XmlTypeName(kind)));
    switch (kind) {
      case ValueKind::Boolean: w.Text(FormatBoolean(r.b)); break;
      case ValueKind::Int32: w.Text(FormatInt32(r.i)); break;
      case ValueKind::Float32: w.Text(FormatFloat32(r.f)); break;
      default:
        if (r.parts.empty()) {
          w.Text(r.text);
          break;
        }
        for (std::size_t i = 0; i < r.parts.size(); ++i) {
          w.Text(r.parts[i]);
          std::string().swap(r.parts[i]);
          // The first piece goes with the envelope's start; the last with its end.
          if (i + 1 < r.parts.size()) pieces.push_back(w.TakeWritten());
        }
        break;
    }
    w.Close();
  }
  pieces.push_back(w.Take());
  return pieces;
}


std::string EncodeEndpointFault(std::string_view message) {
  std::string out =
      "<?xml version=\"1.0\" encoding='UTF-8'?> <SOAP-ENV:Envelope "
      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" ><SOAP-ENV:Body> "
      "<SOAP-ENV:Fault> <faultcode>SOAP-ENV:Server</faultcode><faultstring>";
  XmlWriter::AppendText(out, message);
  out += "</faultstring></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  return out;
}

std::string EncodeCallFault(std::string_view fault_code, std::string_view message) {
  XmlWriter w;
  OpenEnvelope(w);
  w.Open("SOAP-ENV:Body").Open("SOAP-ENV:Fault");
  w.Element("faultcode", fault_code);
  w.Element("faultstring", message);
  w.Element("faultactor", "");
  return w.Take();
}

namespace {

// The SOAP action of a request: the SOAPAction header, else HTTP_SOAPACTION, as received.
std::string SoapActionOf(const host::TWebRequest& request) {
  std::string action = request.GetFieldByName("SOAPAction");
  if (action.empty()) action = request.GetFieldByName("HTTP_SOAPACTION");
  return action;
}

}  // namespace

bool HandleSoapRequest(host::TWebRequest& request, host::TWebResponse& response,
                       const InterfaceRegistry& registry) {
  int status = 200;
  std::string answer;
  std::vector<std::string> pieces;   // a successful call's envelope
  bool fault = true;
  try {
    // Intake: the body is taken out of the request (read once, never held twice); a
    // multipart/related body carries the envelope in its root part.
    std::string body = request.TakeContent();
    const std::string content_type = request.ContentType();
    std::string_view envelope = body;
    std::optional<MultipartMessage> multipart;
    bool bad_multipart = false;
    if (IsMultipartRelated(content_type)) {
      multipart = ParseMultipart(content_type, body);
      if (multipart) {
        envelope = multipart->root.body;
      } else {
        bad_multipart = true;
      }
    }

    // Interface: by SOAP action when one is given, else by the last path segment.
    InterfacePtr intf;
    const std::string action = SoapActionOf(request);
    if (!action.empty() && action != "\"\"") {
      intf = registry.FindBySoapAction(action);
      if (!intf) {
        status = 500;
        answer = EncodeEndpointFault("No interface  registered for soap action '" + action + "'");
      }
    } else {
      intf = registry.FindByPath(request.PathInfo());
      if (!intf) {
        status = 500;
        answer =
            EncodeEndpointFault("No interface  registered for URL '" + request.PathInfo() + "'");
      }
    }

    // The call: from here on every failure is a call-level fault with status 200.
    if (intf) {
      try {
        if (bad_multipart) throw SoapFault("Invalid MIME multipart/related message");
        DocPtr doc = ParseXml(envelope);
        const DecodedCall call = Decoder(*intf, doc.get()).Decode();
        doc.reset();
        multipart.reset();
        std::string().swap(body);
        CallContext ctx{request.IpCliente};
        Invokable instance = intf->MakeInstance(ctx);
        if (instance.empty()) {
          throw SoapFault("No invokable class registered for interface '" + intf->name + "'");
        }
        CallValue result = Invoke(*intf, instance, call);
        pieces = EncodeCallResponse(*intf, intf->operations[call.op], result);
        fault = false;
        // `instance` is released here, after the response has been built.
      } catch (const SoapFault& f) {
        answer = EncodeCallFault(f.fault_code(), f.what());
      } catch (const std::exception& e) {
        answer = EncodeCallFault(kFaultServer, e.what());
      } catch (...) {
        answer = EncodeCallFault(kFaultServer, "Unknown error");
      }
    }
  } catch (...) {
    // Only an allocation failure while building a fault can get here.
    status = 500;
    answer.clear();
    pieces.clear();
  }
  response.SetStatusCode(status);
  response.ContentType = std::string(kSoapContentType);
  if (pieces.size() > 1) {
    response.SetContentParts(std::move(pieces));   // a long answer made in pieces
  } else if (pieces.size() == 1) {
    response.SetContentStream(std::move(pieces.front()));
  } else if (status == 200) {
    response.SetContentStream(std::move(answer));   // a call-level fault
  } else {
    // Endpoint-level faults are set as text; the UTF-8 content type sends them as UTF-8.
    response.SetContent(std::move(answer));
  }
  return fault;
}

}  // namespace orv::soap
