#include "soap/xml_writer.h"

#include <gtest/gtest.h>

namespace orv::soap {
namespace {

TEST(XmlWriterEscape, TextAndAttributeValues) {
  struct Case {
    const char* in;
    const char* text;
    const char* attr;
  };
  const Case cases[] = {
      {"plain", "plain", "plain"},
      {"a&b<c>d", "a&amp;b&lt;c&gt;d", "a&amp;b&lt;c&gt;d"},
      {"say \"hi\" 'x'", "say \"hi\" 'x'", "say &quot;hi&quot; 'x'"},
      {"l1\r\nl2\tx", "l1\r\nl2\tx", "l1&#13;&#10;l2&#9;x"},
      {"\xC3\xA7\xC3\xA3o \xE2\x82\xAC \xF0\x9F\x98\x80", "\xC3\xA7\xC3\xA3o \xE2\x82\xAC \xF0\x9F\x98\x80",
       "\xC3\xA7\xC3\xA3o \xE2\x82\xAC \xF0\x9F\x98\x80"},
      // What XML cannot carry becomes U+FFFD: C0 controls, broken UTF-8, surrogates, U+FFFE.
      {"a\x01" "b", "a\xEF\xBF\xBD" "b", "a\xEF\xBF\xBD" "b"},
      {"\xE9t\xE9", "\xEF\xBF\xBDt\xEF\xBF\xBD", "\xEF\xBF\xBDt\xEF\xBF\xBD"},
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xEF\xBF\xBE", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xC3", "\xEF\xBF\xBD", "\xEF\xBF\xBD"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(XmlWriter::EscapeText(c.in), c.text) << c.in;
    EXPECT_EQ(XmlWriter::EscapeAttr(c.in), c.attr) << c.in;
  }
  EXPECT_EQ(XmlWriter::EscapeText(std::string("a\0b", 3)), "a\xEF\xBF\xBD" "b");
}

TEST(XmlWriter, CompactDocument) {
  XmlWriter w;
  w.Declaration();
  w.Open("r:root").Attr("xmlns:r", "urn:x&y").Attr("k", "v\"");
  w.Open("empty").Close();
  w.Element("t", "1 < 2");
  w.Element("e", "");
  w.Open("mixed").Text("a").Raw("<b/>").Text("c").Close();
  EXPECT_EQ(w.Take(),
            "<?xml version=\"1.0\"?><r:root xmlns:r=\"urn:x&amp;y\" k=\"v&quot;\"><empty/>"
            "<t>1 &lt; 2</t><e/><mixed>a<b/>c</mixed></r:root>");
}

TEST(XmlWriter, IndentedDocument) {
  XmlWriter w(2);
  w.Declaration("utf-8");
  w.Open("definitions").Attr("name", "x");
  w.Open("message").Attr("name", "m");
  w.Open("part").Attr("name", "p").Close();
  w.Close();
  w.Element("doc", "text");
  w.Open("empty").Close();
  w.Close();
  EXPECT_EQ(w.str(),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><definitions name=\"x\">\n"
            "  <message name=\"m\">\n"
            "    <part name=\"p\"/>\n"
            "  </message>\n"
            "  <doc>text</doc>\n"
            "  <empty/>\n"
            "</definitions>");
  EXPECT_EQ(w.depth(), 0u);
}

TEST(XmlWriter, TakeClosesWhatIsOpen) {
  XmlWriter w;
  w.Open("a").Open("b").Text("x");
  EXPECT_EQ(w.Take(), "<a><b>x</b></a>");
  EXPECT_EQ(w.str(), "");
}

}  // namespace
}  // namespace orv::soap
