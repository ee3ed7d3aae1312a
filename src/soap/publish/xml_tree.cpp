#include "soap/publish/xml_tree.h"

#include "soap/xml_writer.h"

namespace orv::soap::publish {
namespace {

void WriteStartTag(const XmlElement& e, std::string& out) {
  out += '<';
  out += e.name;
  for (const auto& [name, value] : e.attributes) {
    out += ' ';
    out += name;
    out += "=\"";
    out += XmlWriter::EscapeAttr(value);
    out += '"';
  }
}

// `indent` < 0 writes without any whitespace between elements.
void WriteElement(const XmlElement& e, int indent, std::string& out) {
  WriteStartTag(e, out);
  if (e.children.empty() && e.text.empty()) {
    out += "/>";
    return;
  }
  out += '>';
  out += XmlWriter::EscapeText(e.text);
  for (const XmlElement& child : e.children) {
    if (indent >= 0) {
      out += '\n';
      out.append(static_cast<std::size_t>(indent + 2), ' ');
    }
    WriteElement(child, indent >= 0 ? indent + 2 : -1, out);
  }
  if (!e.children.empty() && indent >= 0) {
    out += '\n';
    out.append(static_cast<std::size_t>(indent), ' ');
  }
  out += "</";
  out += e.name;
  out += '>';
}

}  // namespace


std::string WriteIndented(const XmlElement& root) {
  std::string out(kXmlDeclaration);
  WriteElement(root, 0, out);
  return out;
}

std::string WriteCompact(const XmlElement& root) {
  std::string out(kXmlDeclaration);
  WriteElement(root, -1, out);
  return out;
}

}  // namespace orv::soap::publish
