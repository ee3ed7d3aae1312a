// The service information pages: the HTML service page (full or for one port type, with or
// without the registered types table), the HTML listing of the port types, the WS-Inspection
// document and the publisher's error page, with the style sheet they share. Every builder is a
// pure function of the port type entries, the program name and the request's base URL, and
// returns the exact bytes of the body (UTF-8).
//
// Thread safety: pure functions, any thread.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "soap/publish/port_types.h"

namespace orv::soap::publish {

inline constexpr std::string_view kHtmlContentType = "text/html; charset=\"utf-8\"";
inline constexpr std::string_view kXmlContentType = "text/xml";
inline constexpr std::string_view kInspectionPath = "/inspection.wsil";
inline constexpr std::string_view kInspectionNamespace =
    "http://schemas.xmlsoap.org/ws/2001/10/inspection/";
inline constexpr std::string_view kWsdlNamespace = "http://schemas.xmlsoap.org/wsdl/";

enum class PageKind { kListing, kService, kError };

// The style sheet lines, each ending with CR LF (the error page's body rule has no margins).
std::string StyleSheet(PageKind kind);
// The text up to and including "</head><body>".
std::string PageHead(PageKind kind, std::string_view program_name);
// The title banner of the listing and service pages.
std::string Banner(std::string_view program_name, std::string_view page_name);

// The listing page. `listing_url` is the base URL followed by the request path without its
// trailing "/" ("http://srv01:8080/wsdl"); each port type links to listing_url + "/" + name.
// `entries` in page order.
std::string ListingPage(const std::vector<PortTypeEntry>& entries, std::string_view program_name,
                        std::string_view listing_url);

// The service page. `selected` names the port type whose detail is shown, or is empty for the
// full page (the caller has checked that it names an entry exactly). `types`, when non-null,
// adds the registered types table.
std::string ServicePage(const std::vector<PortTypeEntry>& entries, std::string_view program_name,
                        std::string_view base_url, std::string_view selected,
                        const std::vector<PublishedType>* types);

// The port type section of the service page.
std::string PortTypeSection(const std::vector<PortTypeEntry>& entries,
                            std::string_view program_name, std::string_view base_url,
                            std::string_view selected);

// The registered types table; empty text when no types are known.
std::string TypesTable(const std::vector<PublishedType>& types);

// The WS-Inspection document (sent as kXmlContentType).
std::string InspectionDocument(const std::vector<PortTypeEntry>& entries,
                               std::string_view base_url);

// The error page for an error caught while the publisher built a response. A null pointer, or
// an error that is not a std::exception, gives the "Unknown Error" page.
std::string ErrorPage(const std::exception_ptr& error);
std::string ErrorPage(std::string_view message, std::string_view type_name);
std::string UnknownErrorPage();

}  // namespace orv::soap::publish
