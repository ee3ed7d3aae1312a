// Every limit of the SOAP endpoint's reading of request documents, each with its reason.
//
// Thread safety: constants only.
#pragma once

#include <cstddef>

namespace orv::soap {

// Deepest element nesting accepted. Envelopes are a handful of levels deep; the bound keeps
// every tree walk and the library's own recursion far from the thread's stack limit, while the
// parser runs without its size limits (the endpoint applies none to bodies or values).
inline constexpr int kMaxElementDepth = 256;

// Attributes (namespace declarations included) of one element. Envelopes carry a dozen at most;
// the XML library checks each attribute against every earlier one of its element, so an element
// with 200 000 attributes would hold a core for minutes.
inline constexpr std::size_t kMaxAttributesPerElement = 256;

// Namespace declarations in scope at once. The library looks every prefixed name up among them,
// so their number multiplies the cost of every element and attribute.
inline constexpr std::size_t kMaxNamespacesInScope = 256;

// Nodes (elements, attributes, text runs, comments, processing instructions, character-data
// sections) of one document: kFreeXmlNodes, and one more per kBodyBytesPerXmlNode bytes of the
// body. A node of the parsed tree costs the library 120 to 170 bytes, so a tree within the bound
// costs about as much as the body itself, and reading a request never holds more than about
// three times its body (the body, the tree, the value taken from it). Requests from real
// clients hold a few dozen nodes: their values are text, whatever their length.
inline constexpr std::size_t kFreeXmlNodes = 4096;
inline constexpr std::size_t kBodyBytesPerXmlNode = 160;

// Characters (UTF-16 code units) of the offending source line quoted in a parse fault.
inline constexpr std::size_t kFaultSourceLineChars = 40;

}  // namespace orv::soap
