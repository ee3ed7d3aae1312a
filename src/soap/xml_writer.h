// XmlWriter: a small string builder for XML documents (SOAP envelopes and faults, WSDL,
// WS-Inspection, pages). It writes exactly the bytes asked for: no declaration, indentation or
// line break that the caller did not request, start tags closed lazily so that an element
// without content becomes an empty-element tag ("<x/>").
//
// Escaping: character data escapes "&", "<" and ">"; attribute values also escape '"' and
// TAB, LF and CR (as character references, so a reader gets them back instead of spaces).
// Text that XML cannot carry is made safe first: invalid UTF-8 sequences and the C0 control
// characters other than TAB, LF and CR become U+FFFD (XML 1.0 has no way to write them).
//
// Thread safety: one writer per thread; the static helpers are pure.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orv::soap {

class XmlWriter {
 public:
  XmlWriter() = default;
  // indent > 0: every element below the document element starts on a new line ("\n") indented
  // by `indent` spaces per level; an element with element children gets its end tag on a line
  // of its own. Elements holding text stay on one line.
  explicit XmlWriter(int indent) : indent_(indent) {}

  // `<?xml version="1.0"?>`, or with `encoding` `<?xml version="1.0" encoding="..."?>`.
  XmlWriter& Declaration(std::string_view encoding = {});
  // Start tag of `name` (a prefixed name as written, e.g. "SOAP-ENV:Body").
  XmlWriter& Open(std::string_view name);
  // An attribute of the element just opened (before any content).
  XmlWriter& Attr(std::string_view name, std::string_view value);
  // Character data inside the current element.
  XmlWriter& Text(std::string_view text);
  // Markup written unchanged inside the current element (the caller vouches for it).
  XmlWriter& Raw(std::string_view markup);
  // Ends the innermost open element.
  XmlWriter& Close();
  // Open + Text + Close.
  XmlWriter& Element(std::string_view name, std::string_view text);
  // Closes every open element.
  XmlWriter& CloseAll();

  const std::string& str() const { return out_; }
  std::string Take();
  // What has been written so far, moved out; the open elements stay open and the next writes
  // go on from there (a long document handed on in pieces).
  std::string TakeWritten();
  std::size_t depth() const { return open_.size(); }

  // Appends `text` escaped as character data / as an attribute value.
  static void AppendText(std::string& out, std::string_view text);
  static void AppendAttr(std::string& out, std::string_view value);
  static std::string EscapeText(std::string_view text);
  static std::string EscapeAttr(std::string_view value);

 private:
  struct Frame {
    std::string name;
    bool has_content = false;
    bool has_child_elements = false;
  };
  void EndStartTag();
  void NewLine(std::size_t level);

  std::string out_;
  std::vector<Frame> open_;
  bool tag_open_ = false;  // "<name attrs" written, ">" not yet
  int indent_ = 0;
};

}  // namespace orv::soap
