// A small element tree and the two ways the publisher writes it: indented (WSDL documents)
// and compact (WS-Inspection document), each after the XML declaration. Also the escaping of
// text that the publisher puts into XML and HTML.
//
// Thread safety: plain values and pure functions, any thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::soap::publish {

// The declaration that opens every document the publisher writes, with the line feed after it.
inline constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

struct XmlElement {
  std::string name;                                          // prefixed name as written
  std::vector<std::pair<std::string, std::string>> attributes;  // in the order written
  std::string text;                                          // character data of a leaf
  std::vector<XmlElement> children;

  explicit XmlElement(std::string element_name) : name(std::move(element_name)) {}
  XmlElement& Attr(std::string attr_name, std::string value) {
    attributes.emplace_back(std::move(attr_name), std::move(value));
    return *this;
  }
  // Appends a child and returns it (references stay valid only until the next Add on the
  // same parent).
  XmlElement& Add(std::string child_name) { return children.emplace_back(std::move(child_name)); }
};

// Text and attribute values are escaped by the SOAP layer's writer (XmlWriter::EscapeText,
// XmlWriter::EscapeAttr); the attribute form serves as well for any request-derived text placed
// into HTML.

// The declaration, then the document element; every child element on a line of its own
// (single line feed), indented by two spaces per level; the end tag of an element with
// children on its own line; a childless element without text as an empty-element tag. No line
// break after the document element.
std::string WriteIndented(const XmlElement& root);
// The declaration, then the document element without any whitespace between elements.
std::string WriteCompact(const XmlElement& root);

}  // namespace orv::soap::publish
