#include "soap/xml_reader.h"

#include <limits>
#include <mutex>
#include <vector>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

#include "soap/soap_values.h"
#include "soap/xml_shape.h"
#include "util/text.h"

namespace orv::soap {

namespace {

// Per-parse state reached from the parser context's _private field.
struct ParseState {
  bool has_error = false;
  std::string reason;
  int line = 0;
  int depth = 0;
  startElementNsSAX2Func start = nullptr;
  endElementNsSAX2Func end = nullptr;
};

ParseState* StateOf(void* ctx) {
  return static_cast<ParseState*>(static_cast<xmlParserCtxt*>(ctx)->_private);
}

void Fail(xmlParserCtxt* ctxt, ParseState* st, std::string reason) {
  if (!st->has_error) {
    st->has_error = true;
    st->reason = std::move(reason);
    st->line = xmlSAX2GetLineNumber(ctxt);
  }
  xmlStopParser(ctxt);
}

void OnError(void* ctx, xmlErrorPtr error) {
  ParseState* st = StateOf(ctx);
  if (st == nullptr || st->has_error || error == nullptr) return;
  if (error->level < XML_ERR_ERROR) return;  // warnings do not fail a document
  st->has_error = true;
  std::string reason = error->message ? error->message : "XML parse error";
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  st->reason = std::move(reason);
  st->line = error->line;
}

void OnInternalSubset(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
  Fail(ctxt, StateOf(ctx), "DOCTYPE is not allowed in a SOAP message");
}

void OnStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                    const xmlChar* uri, int nb_namespaces, const xmlChar** namespaces,
                    int nb_attributes, int nb_defaulted, const xmlChar** attributes) {
  ParseState* st = StateOf(ctx);
  if (++st->depth > kMaxElementDepth) {
    Fail(static_cast<xmlParserCtxt*>(ctx), st,
         "Excessive depth in document: more than " + std::to_string(kMaxElementDepth) +
             " nested elements");
    return;
  }
  st->start(ctx, localname, prefix, uri, nb_namespaces, namespaces, nb_attributes,
            nb_defaulted, attributes);
}

void OnEndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                  const xmlChar* uri) {
  ParseState* st = StateOf(ctx);
  --st->depth;
  st->end(ctx, localname, prefix, uri);
}

// The first kFaultSourceLineChars characters of line `line` (1-based; LF, CR LF and lone CR
// end a line) as valid UTF-8. Only the bytes of that line's start are converted: the body
// may be tens of megabytes on one line.
std::string SourceLine(std::string_view bytes, int line) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  bool utf16 = false;
  bool big_endian = false;
  std::size_t start = 0;
  if (bytes.size() >= 2 && b(0) == 0xFF && b(1) == 0xFE) {
    utf16 = true;
    start = 2;
  } else if (bytes.size() >= 2 && b(0) == 0xFE && b(1) == 0xFF) {
    utf16 = big_endian = true;
    start = 2;
  } else if (bytes.size() >= 2 && b(0) == '<' && b(1) == 0) {
    utf16 = true;
  } else if (bytes.size() >= 2 && b(0) == 0 && b(1) == '<') {
    utf16 = big_endian = true;
  }
  // Enough of the line for the characters kept: one UTF-16 unit per kept character, up to
  // four UTF-8 bytes for two units (an invalid byte becomes one U+FFFD).
  const std::size_t keep = kFaultSourceLineChars * 4;
  std::string text;
  if (utf16) {
    std::u16string u;
    int current = 1;
    for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
      const char16_t c = static_cast<char16_t>(big_endian ? (b(i) << 8) | b(i + 1)
                                                          : (b(i + 1) << 8) | b(i));
      if (c == u'\n' || c == u'\r') {
        if (current == line) break;
        const bool crlf = c == u'\r' && i + 3 < bytes.size() &&
                          (big_endian ? (b(i + 2) == 0 && b(i + 3) == '\n')
                                      : (b(i + 2) == '\n' && b(i + 3) == 0));
        if (crlf) i += 2;
        ++current;
        continue;
      }
      if (current == line) {
        u.push_back(c);
        if (u.size() >= keep) break;
      }
    }
    text = util::Utf16ToUtf8(u);
  } else {
    std::string_view rest = bytes;
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    int current = 1;
    std::size_t pos = 0;
    while (current < line && pos < rest.size()) {
      const char c = rest[pos++];
      if (c == '\n' || c == '\r') {
        if (c == '\r' && pos < rest.size() && rest[pos] == '\n') ++pos;
        ++current;
      }
    }
    std::size_t end = pos;
    while (end < rest.size() && end - pos < keep && rest[end] != '\n' && rest[end] != '\r')
      ++end;
    text = std::string(rest.substr(pos, end - pos));
    text = util::SanitisedUtf8(text);
  }
  return util::Utf16Left(text, kFaultSourceLineChars);
}

[[noreturn]] void ThrowParseFault(std::string_view bytes, const std::string& reason, int line) {
  if (line < 1) line = 1;
  throw SoapFault(reason + "\r\nLine: " + std::to_string(line) + "\r\n" + SourceLine(bytes, line));
}

bool IsBlankText(const xmlNode* n) {
  if (n->type != XML_TEXT_NODE || n->content == nullptr) return false;
  for (const xmlChar* p = n->content; *p; ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') return false;
  }
  return true;
}

// Removes every whitespace-only text node of the tree.
void DropBlankText(xmlNode* root) {
  std::vector<xmlNode*> blanks;
  ForEachNode(root, [&](xmlNode* n) {
    if (IsBlankText(n)) blanks.push_back(n);
  });
  for (xmlNode* n : blanks) {
    xmlUnlinkNode(n);
    xmlFreeNode(n);
  }
}

}  // namespace

void InitXmlLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

DocPtr ParseXml(std::string_view bytes) {
  InitXmlLibrary();
  if (bytes.empty()) ThrowParseFault(bytes, "Document is empty", 1);
  if (const auto problem = CheckXmlShape(bytes)) ThrowParseFault(bytes, problem->reason, problem->line);

  std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxt*)> ctxt(xmlNewParserCtxt(),
                                                                xmlFreeParserCtxt);
  if (!ctxt) throw SoapFault("Out of memory while creating the XML parser");
  ParseState st;
  ctxt->_private = &st;
  ctxt->sax->serror = OnError;
  ctxt->sax->internalSubset = OnInternalSubset;
  st.start = ctxt->sax->startElementNs;
  st.end = ctxt->sax->endElementNs;
  ctxt->sax->startElementNs = OnStartElement;
  ctxt->sax->endElementNs = OnEndElement;

  // Never XML_PARSE_NOENT / DTDLOAD / DTDATTR: no entity substitution, no external loading.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                      XML_PARSE_HUGE;
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    ThrowParseFault({}, "Document too large for the XML parser", 1);
  }
  // The library copies the bytes while it reads them; the copy goes with the parser context,
  // before anything is taken from the tree.
  DocPtr doc(xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()),
                               nullptr, nullptr, options));
  if (st.has_error || !doc || doc->intSubset != nullptr || !ctxt->wellFormed) {
    const std::string reason = st.has_error ? st.reason : "Document is not well-formed";
    doc.reset();
    ThrowParseFault(bytes, reason, st.line);
  }
  if (xmlNode* root = xmlDocGetRootElement(doc.get())) DropBlankText(root);
  return doc;
}

std::string_view LocalName(const xmlNode* node) {
  if (node == nullptr || node->name == nullptr) return {};
  return reinterpret_cast<const char*>(node->name);
}

std::string_view NamespaceOf(const xmlNode* node) {
  if (node == nullptr || node->ns == nullptr || node->ns->href == nullptr) return {};
  return reinterpret_cast<const char*>(node->ns->href);
}

bool GetAttr(const xmlNode* node, const char* name, const char* ns, std::string& value) {
  for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
    if (a->name == nullptr || std::string_view(reinterpret_cast<const char*>(a->name)) != name)
      continue;
    const bool has_ns = a->ns != nullptr && a->ns->href != nullptr;
    if (ns == nullptr ? has_ns
                      : (!has_ns || std::string_view(reinterpret_cast<const char*>(a->ns->href)) != ns))
      continue;
    value.clear();
    for (const xmlNode* c = a->children; c != nullptr; c = c->next) {
      if (c->content) value += reinterpret_cast<const char*>(c->content);
    }
    return true;
  }
  return false;
}

xmlNode* FirstElementChild(xmlNode* node) {
  for (xmlNode* c = node ? node->children : nullptr; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE) return c;
  }
  return nullptr;
}

xmlNode* NextElement(xmlNode* node) {
  for (xmlNode* c = node ? node->next : nullptr; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE) return c;
  }
  return nullptr;
}

std::string ElementText(xmlNode* node) {
  xmlNode* first = node->children;
  if (first == nullptr) return {};
  if (first->next == nullptr && first->type == XML_TEXT_NODE) {
    return first->content ? reinterpret_cast<const char*>(first->content) : "";
  }
  std::unique_ptr<xmlBuffer, void (*)(xmlBuffer*)> buf(xmlBufferCreate(), xmlBufferFree);
  if (!buf) throw SoapFault("Out of memory while serialising an element");
  for (xmlNode* c = first; c != nullptr; c = c->next) {
    if (xmlNodeDump(buf.get(), node->doc, c, 0, 0) < 0) {
      throw SoapFault("Could not serialise the content of element " + std::string(LocalName(node)));
    }
  }
  return std::string(reinterpret_cast<const char*>(xmlBufferContent(buf.get())),
                     static_cast<std::size_t>(xmlBufferLength(buf.get())));
}

}  // namespace orv::soap
