// Safe parsing of request documents with libxml2, and the few tree helpers the SOAP decoder
// needs (local names, namespaces, attributes, the text of an element).
//
// The parser never loads external entities or DTDs and never touches the network; a document
// with a DOCTYPE is refused outright (no entity is ever declared, so none can expand), as is a
// document nested deeper than kMaxElementDepth or past the shape limits of xml_shape.h (checked
// before the library reads it). Whitespace-only text nodes are removed after parsing. A failure
// is reported as the parser's FIRST error with its real line number.
//
// Thread safety: a ParsedDocument belongs to one thread; Parse may run on many threads at
// once (each call uses its own parser context; the library's global set-up runs once).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <libxml/tree.h>

#include "soap/soap_limits.h"

namespace orv::soap {

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

// Parses `bytes` (encoding detected from a byte-order mark or the XML declaration; UTF-8
// otherwise). Throws SoapFault with: reason, CR LF, "Line: " + line number, CR LF, the first
// kFaultSourceLineChars characters of that source line.
DocPtr ParseXml(std::string_view bytes);

// Makes sure the library's global state is initialised (once per process).
void InitXmlLibrary();

// Tree helpers (nullptr-safe where it matters).
std::string_view LocalName(const xmlNode* node);
std::string_view NamespaceOf(const xmlNode* node);   // "" without a namespace
// Finds the attribute `name` in namespace `ns` (nullptr: an unprefixed attribute) and stores
// its value; false when absent.
bool GetAttr(const xmlNode* node, const char* name, const char* ns, std::string& value);
xmlNode* FirstElementChild(xmlNode* node);
xmlNode* NextElement(xmlNode* node);
// The text of the element: its single text child's content when it has exactly one child
// node and that node is text; else the concatenated XML of all its child nodes.
std::string ElementText(xmlNode* node);

// Calls f(node) for `root` and every node below it, in document order (iterative).
template <class F>
void ForEachNode(xmlNode* root, F&& f) {
  xmlNode* n = root;
  while (n != nullptr) {
    f(n);
    if (n->type == XML_ELEMENT_NODE && n->children != nullptr) {
      n = n->children;
      continue;
    }
    while (n != root && n->next == nullptr) n = n->parent;
    if (n == root) break;
    n = n->next;
  }
}

}  // namespace orv::soap
