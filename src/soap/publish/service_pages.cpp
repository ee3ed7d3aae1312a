#include "soap/publish/service_pages.h"

#include <utility>

#include "soap/publish/platform.h"
#include "soap/publish/xml_tree.h"
#include "soap/xml_writer.h"

namespace orv::soap::publish {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kSelectorWidth = "           ";  // selectors are padded to 11 columns

struct StyleRule {
  std::string_view selector;
  std::string_view declarations;
};

constexpr std::string_view kBodyRule =
    "{font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 9pt; margin-left: 0px; "
    "margin-top: 0px; margin-right: 0px; }";
constexpr std::string_view kErrorBodyRule =
    "{font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 9pt; }";

constexpr StyleRule kRulesAfterBody[] = {
    {"h1", "{color: #333333; font-size: 18pt; font-style: normal; font-weight: bold; }"},
    {"h2", "{color: #333333; font-size: 14pt; font-style: normal; font-weight: bold; }"},
    {"h3", "{color: #333333; font-size: 12pt; font-style: normal; font-weight: bold; }"},
    {".h1Style", "{color: #333333; font-size: 18pt; font-style: normal; font-weight: bold; }"},
    {".TblRow",
     "{color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 10pt; "
     "font-weight: normal; }"},
    {".TblRow1",
     "{color: #333333; background-color: #f5f5dc; font-family: Verdana, Arial, Helvetica, "
     "sans-serif; font-size: 9pt; font-weight: normal; }"},
    {".TblRow0",
     "{color: #333333; background-color: #d9d4aa; font-family: Verdana, Arial, Helvetica, "
     "sans-serif; font-size: 9pt; font-weight: normal; }"},
    {".TblHdr",
     "{color: #CCCC99; background-color: #333333; font-family: Verdana, Arial, Helvetica, "
     "sans-serif; font-size: 10pt; font-weight: bold; text-align: center;}"},
    {".IntfName",
     "{color: #660000; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 10pt; "
     "font-weight: bold; }"},
    {".MethName",
     "{color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 8pt; "
     "font-weight: bold; text-decoration: none; }"},
    {".ParmName",
     "{color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 8pt; "
     "text-decoration: none; }"},
    {".Namespace",
     "{color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 9pt; "
     "font-style: italic; }"},
    {".WSDL",
     "{color: #990000; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 8pt; "
     "font-weight: bold; }"},
    {".MainBkgnd", "{background-color : #d9d4aa; }"},
    {".Info",
     "{font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 12pt; font-weight: bold; }"},
    {".NavBar",
     "{color: #660000; background-color: #f5f5dc; font-family: Verdana, Arial, Helvetica, "
     "sans-serif; font-size: 8pt; font-weight: bold;text-decoration: none; }"},
    {".Off", "{color: #A0A0A0; }"},
};

// The .Tip rule is the one not padded like the others.
constexpr std::string_view kTipRule =
    ".Tip \t    {color: #666666; font-family : Verdana, Arial, Helvetica, sans-serif; "
    "font-weight : normal; font-size : 9pt; }";

void AppendRule(std::string& out, std::string_view selector, std::string_view declarations) {
  out += selector;
  if (selector.size() < kSelectorWidth.size()) {
    out += kSelectorWidth.substr(selector.size());
  }
  out += declarations;
  out += kCrLf;
}

std::string Html(std::string_view request_text) { return XmlWriter::EscapeAttr(request_text); }

std::string TypeNameForPage(const PublishedType& type) {
  // A type without an XML name (none of this service's) is shown by its own name.
  return type.xml_name.empty() ? type.type_name : type.xml_name;
}

std::string ParameterList(const PublishedOperation& op) {
  std::string out;
  bool first = true;
  for (const PublishedParam& p : op.params) {
    out += "<span class=\"MethName\">";
    out += first ? "" : ", ";
    out += "</span><span class=\"ParmName\">";
    out += p.type.xml_name.empty() ? "????" : p.type.xml_name;
    out += "</span><span class=\"MethName\">&nbsp;";
    out += p.name;
    out += "</span>";
    first = false;
  }
  return out;
}

void AppendOperations(std::string& out, const PortTypeEntry& entry, bool detail) {
  if (!detail) {
    for (const PublishedOperation& op : entry.operations) {
      out += "<ul><li><span class=\"MethName\">";
      out += op.name;
      out += "</span></li></ul>";
    }
    return;
  }
  out += "<table>";
  out += kCrLf;
  for (const PublishedOperation& op : entry.operations) {
    out += "<tr><td width=\"10%\" class=\"MethName\">&nbsp;</td><td class=\"ParmName\">";
    out += op.has_result ? TypeNameForPage(op.result) + " " : std::string("void ");
    out += "</td><td><span class=\"MethName\">";
    out += op.name;
    out += "(</span>";
    out += ParameterList(op);
    out += "<span class=\"MethName\">)</span></td></tr>";
    out += kCrLf;
  }
  out += "</table>";
  out += kCrLf;
}

}  // namespace

std::string StyleSheet(PageKind kind) {
  std::string out;
  AppendRule(out, "body", kind == PageKind::kError ? kErrorBodyRule : kBodyRule);
  for (const StyleRule& rule : kRulesAfterBody) {
    AppendRule(out, rule.selector, rule.declarations);
  }
  out += kTipRule;
  out += kCrLf;
  return out;
}

std::string PageHead(PageKind kind, std::string_view program_name) {
  std::string out;
  switch (kind) {
    case PageKind::kListing:
      out += "<html><head><title>";
      out += program_name;
      out += "</title><style type=\"text/css\"><!--";
      break;
    case PageKind::kService:
      out += "<html><head><META name=\"serviceInspection\" content=\"inspection.wsil\"><title>";
      out += program_name;
      out += "</title><style type=\"text/css\"><!--";
      break;
    case PageKind::kError:
      out += "<html><head><style type=\"text/css\"><!--";
      break;
  }
  out += kCrLf;
  out += StyleSheet(kind);
  out += "--></style>";
  out += kCrLf;
  out += "</head><body>";
  return out;
}

std::string Banner(std::string_view program_name, std::string_view page_name) {
  std::string out =
      "<table class=\"MainBkgnd\" border=0 cellpadding=0 cellspacing=0 width=\"100%\">"
      "<tr><td>&nbsp;</td></tr><tr><td class=\"h1Style\" align=\"center\">";
  out += program_name;
  out += " - ";
  out += page_name;
  out += "</td></tr></table>";
  return out;
}

std::string ListingPage(const std::vector<PortTypeEntry>& entries, std::string_view program_name,
                        std::string_view listing_url) {
  std::vector<std::string> lines;
  lines.push_back(PageHead(PageKind::kListing, program_name) +
                  Banner(program_name, "WebService Listing"));
  lines.emplace_back("<center><br>");
  lines.emplace_back("<table border=1 cellspacing=1 cellpadding=2 >");
  lines.emplace_back("<tr>");
  for (std::string_view header : {"Port Type", "Namespace URI", "Documentation", "WSDL"}) {
    lines.push_back("<td class=\"TblHdr\">" + std::string(header) + "</td>");
  }
  lines.emplace_back("</tr>");
  for (const PortTypeEntry& e : entries) {
    lines.emplace_back("<tr>");
    lines.push_back("<td class=\"TblRow\">" + e.name + "</td>");
    lines.push_back("<td class=\"TblRow\">" + e.ns + "</td>");
    lines.push_back("<td class=\"TblRow\">" +
                    (e.documentation.empty() ? std::string("&nbsp;") : e.documentation) + "</td>");
    lines.push_back("<td class=\"TblRow\"><a href=\"" + Html(listing_url) + "/" + e.name + "\">" +
                    e.name + "</a></td>");
    lines.emplace_back("</tr>");
  }
  lines.emplace_back("</table>");
  lines.emplace_back("</center>");
  lines.emplace_back("</body></html>");

  std::string out;
  for (const std::string& line : lines) {
    out += line;
    out += kCrLf;
  }
  return out;
}

std::string PortTypeSection(const std::vector<PortTypeEntry>& entries,
                            std::string_view program_name, std::string_view base_url,
                            std::string_view selected) {
  if (entries.empty()) {
    return {};
  }
  const std::string base = Html(base_url);
  const bool detail = !selected.empty();
  std::string out = "<br><table width=\"100%\" border=0 cellpadding=1 cellspacing=0>";
  out += kCrLf;
  out += "<tr><td width=\"1%\" class=\"Info\">&nbsp;</td><td width=\"99%\" class=\"Info\">";
  out += kCrLf;
  if (detail) {
    out += "<a href=\"" + base + "\">" + std::string(program_name) +
           "</a>&nbsp;&gt;&nbsp;<span class=\"Off\">" + std::string(selected) + "</span>";
  } else {
    out += std::string(program_name) + " - PortTypes:";
  }
  out += "</td></tr>";
  out += kCrLf;
  out += "<tr><td>&nbsp;</td><td>&nbsp;</td></tr>";
  out += kCrLf;

  for (const PortTypeEntry& e : entries) {
    if (detail && e.name != selected) {
      continue;
    }
    out += "<tr><td width=\"1%\">&nbsp;</td><td width=\"99%\"><ul><li>";
    out += kCrLf;
    if (detail) {
      out += "<span class=\"IntfName\">" + e.name + "</span>";
    } else {
      out += "<a class=\"IntfName\" href=\"" + base + "?intf=" + e.name + "\">" + e.name + "</a>";
    }
    out += kCrLf;
    out += "<span class=\"WSDL\">[</span><a class=\"WSDL\" href=\"" + base + "/wsdl/" + e.name +
           "\">WSDL</a><span class=\"WSDL\">]</span>";
    out += kCrLf;
    if (detail) {
      out += "&nbsp;<span class=\"Namespace\">(" + e.ns + ")</span>";
      out += kCrLf;
    }
    if (!e.documentation.empty()) {
      out += "<table><tr><td width=\"2%\">&nbsp;</td><td>";
      out += kCrLf;
      out += "<span class=\"Tip\">" + e.documentation + "</span></td></tr></table>";
      out += kCrLf;
    }
    AppendOperations(out, e, detail);
    out += "</li></ul></td></tr>";
  }

  if (!detail) {
    out += "<tr><td width=\"1%\" class=\"Info\">&nbsp;</td><td width=\"99%\" class=\"Info\">";
    out += kCrLf;
    out += "WSIL:&nbsp;&nbsp;<span class=\"Tip\">Link to WS-Inspection document of Services "
           "<a href=\"" +
           base + std::string(kInspectionPath) + "\">here</a></span>";
    out += "</td></tr>";
    out += kCrLf;
    out += "<tr><td>&nbsp;</td><td>&nbsp;</td></tr>";
    out += kCrLf;
  }
  out += "</table>";
  return out;
}

std::string TypesTable(const std::vector<PublishedType>& types) {
  if (types.empty()) {
    return {};
  }
  std::string out =
      "<a name=\"types\"></a><center><h3>Registered Types</h3><table cellpadding=2 cellspacing=1 "
      "border=0><tr><td class=\"TblHdr\">Type</td><td class=\"TblHdr\">XML Name</td><td "
      "class=\"TblHdr\">Namespace</td><td class=\"TblHdr\">Class</td><td "
      "class=\"TblHdr\">Address</td><td class=\"TblHdr\">ExtName</td></tr>";
  std::size_t row = 0;
  for (const PublishedType& t : types) {
    const std::string cell = std::string("<td class=\"") + (row % 2 == 0 ? "TblRow1" : "TblRow0") + "\">";
    const std::string kind = t.kind.empty() ? std::string() : "(" + t.kind + ")";
    out += "<tr>";
    out += cell + t.type_name + "</td>";
    out += cell + t.xml_name + "</td>";
    out += cell + t.xml_namespace + "</td>";
    out += cell + t.class_name + " " + kind + "</td>";
    out += cell + std::to_string(t.id) + "</td>";
    out += cell + t.ext_name + "</td>";
    out += "</tr>";
    ++row;
  }
  out += "</table></center>";
  return out;
}

std::string ServicePage(const std::vector<PortTypeEntry>& entries, std::string_view program_name,
                        std::string_view base_url, std::string_view selected,
                        const std::vector<PublishedType>* types) {
  std::string out = PageHead(PageKind::kService, program_name);
  out += Banner(program_name, "Service Info Page");
  out += PortTypeSection(entries, program_name, base_url, selected);
  if (types != nullptr) {
    out += TypesTable(*types);
  }
  out += "</body></html>";
  return out;
}

std::string InspectionDocument(const std::vector<PortTypeEntry>& entries,
                               std::string_view base_url) {
  XmlElement root("inspection");
  root.Attr("xmlns", std::string(kInspectionNamespace));
  for (const PortTypeEntry& e : entries) {
    XmlElement& service = root.Add("service");
    service.Add("abstract").text = e.documentation;
    service.Add("name").text = e.name;
    service.Add("description")
        .Attr("referencedNamespace", std::string(kWsdlNamespace))
        .Attr("location", std::string(base_url) + "/wsdl/" + e.name);
  }
  return WriteCompact(root);
}

std::string ErrorPage(std::string_view message, std::string_view type_name) {
  std::string out = PageHead(PageKind::kError, "");
  out += "<h1>Error: ";
  out += Html(message);
  out += "/";
  out += Html(type_name);
  out += "</h1></body></html>";
  return out;
}

std::string UnknownErrorPage() {
  return PageHead(PageKind::kError, "") + "<h1>Unknown Error</h1></body></html>";
}

std::string ErrorPage(const std::exception_ptr& error) {
  if (!error) {
    return UnknownErrorPage();
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return ErrorPage(e.what(), ErrorTypeName(e));
  } catch (...) {
    return UnknownErrorPage();
  }
}

}  // namespace orv::soap::publish
