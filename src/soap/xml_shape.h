// The shape check of a request document, before the XML library reads it: one linear pass over
// the raw bytes that counts nodes, attributes per element and namespace declarations in scope,
// and stops at the first limit passed (soap_limits.h). The library's own costs grow faster than
// the document with some of these (an attribute is checked against every earlier one of its
// element), and its tree costs a hundred times a node's bytes; past the limits a document is
// refused at once, whatever its size.
//
// The pass reads the encodings the library detects by itself (UTF-8 and the other ASCII-based
// encodings, UTF-16 and UCS-4 in either byte order, EBCDIC). It is not a parser: it only
// counts, and anything it does not recognise (a document type declaration, broken markup) is
// left to the library, which refuses it with its own message.
//
// Thread safety: a pure function.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orv::soap {

struct ShapeProblem {
  std::string reason;   // what was passed, as a parse fault names it
  int line = 1;         // the source line where it was passed (1-based)
};

// The first limit `document` passes, or nothing.
std::optional<ShapeProblem> CheckXmlShape(std::string_view document);

// The node budget of a document of `bytes` bytes.
std::size_t XmlNodeBudget(std::size_t bytes);

}  // namespace orv::soap
