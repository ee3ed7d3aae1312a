// The shape check of request documents: one case per line, the limits at their edges, markup
// that only looks like attributes or elements, the other encodings, and broken documents,
// which are left to the parser.
#include "soap/xml_shape.h"

#include <gtest/gtest.h>

#include <string>

#include "soap/soap_limits.h"

namespace orv::soap {
namespace {

std::string Attrs(std::size_t n, const char* name = "a") {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += " " + std::string(name) + std::to_string(i) + "='1'";
  return s;
}

std::string Repeat(const std::string& s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

std::string Ucs4Be(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string(3, '\0') + c;
  return out;
}

TEST(XmlShape, LimitsAndWhatCountsTowardsThem) {
  const std::size_t max = kMaxAttributesPerElement;
  const std::string ns129 = Attrs(129, "xmlns:p");
  const std::string cdata = Repeat("<![CDATA[x]]>", 100000);
  // Documents of about 1.5 MB: room for the free nodes and one more per 160 bytes. Elements
  // <e/> under one root, then the filler (a text run): within the budget, and the fewest that
  // pass the budget of the document they make.
  const std::string filler(1'500'000, ' ');
  const std::size_t within = XmlNodeBudget(filler.size()) - 2;
  std::size_t past = within;
  while (past + 2 <= XmlNodeBudget(filler.size() + 7 + 4 * past)) ++past;
  const struct {
    const char* name;
    std::string doc;
    const char* problem;   // start of the reason, or "" for none
  } cases[] = {
      {"plain", "<?xml version='1.0'?><a x='1'><b>t</b><!--c--><?p d?></a>", ""},
      {"attributes at the limit", "<a" + Attrs(max) + "/>", ""},
      {"one attribute more", "<a" + Attrs(max + 1) + "/>", "Excessive attribute count"},
      {"declarations count as attributes", "<a" + Attrs(max + 1, "xmlns:p") + ">", "Excessive"},
      {"declarations in scope at once", "<a" + ns129 + "><b" + ns129 + "/></a>",
       "Excessive namespace declarations"},
      {"declarations of siblings", "<a><b" + ns129 + "/><b" + ns129 + "></b><b" + ns129 + "/></a>",
       ""},
      {"depth at the limit", Repeat("<d>", 256), ""},
      {"one level more", Repeat("<d>", 257), "Excessive depth"},
      {"attribute-like text in a comment", "<a><!--<b" + Attrs(max + 1) + "/>--></a>", ""},
      {"attribute-like text in character data", "<a><![CDATA[<b" + Attrs(max + 1) + ">]]></a>",
       ""},
      {"markup characters in values", "<a b='>' c=\"<x y='1'/>\"" + Attrs(max - 2) + "/>", ""},
      {"character-data sections in a row are one node", "<a>" + cdata + "</a>", ""},
      {"nodes within the budget", "<r>" + Repeat("<e/>", within) + "</r>" + filler, ""},
      {"nodes past the budget", "<r>" + Repeat("<e/>", past) + "</r>" + filler,
       "Excessive node count"},
      {"text runs are nodes", "<r>" + Repeat("<e/>t", past / 2 + 1) + "</r>" + filler,
       "Excessive node count"},
      {"UTF-16", Utf16Le("<a" + Attrs(max + 1) + "/>"), "Excessive attribute count"},
      {"UCS-4", Ucs4Be("<a" + Attrs(max + 1) + "/>"), "Excessive attribute count"},
      // Broken documents are the parser's to refuse; the check ends without a word.
      {"unterminated value", "<a" + Attrs(max - 1) + " b='", ""},
      {"unterminated tag", "<a b", ""},
      {"lone markup", "<", ""},
      {"document type", "<!DOCTYPE a [<!ENTITY e 'x'>]><a/>", ""},
      {"stray quotes", "<a \" ' = / b>", ""},
  };
  for (const auto& c : cases) {
    const auto p = CheckXmlShape(c.doc);
    if (*c.problem == '\0') {
      EXPECT_FALSE(p) << c.name << ": " << p->reason;
    } else {
      ASSERT_TRUE(p) << c.name;
      EXPECT_EQ(p->reason.rfind(c.problem, 0), 0u) << c.name << ": " << p->reason;
    }
  }
}

TEST(XmlShape, TheProblemNamesItsLine) {
  const auto p = CheckXmlShape("<a>\n<b/>\r\n<c/>\r<d" + Attrs(kMaxAttributesPerElement + 1) + "/>");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->line, 4);
}

}  // namespace
}  // namespace orv::soap
