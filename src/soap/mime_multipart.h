// Reading of MIME multipart/related request bodies (SOAP messages with attachments): the root
// part is the SOAP envelope, the other parts are attachments.
//
// Thread safety: pure functions, any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::soap {

struct MimePart {
  std::vector<std::pair<std::string, std::string>> headers;  // names as sent
  std::string body;

  // Header value by name (ASCII case ignored); empty when absent.
  std::string Header(std::string_view name) const;
};

struct MultipartMessage {
  MimePart root;
  std::vector<MimePart> attachments;
};

// True when the content type begins with "multipart/related; boundary=" (ASCII case ignored).
bool IsMultipartRelated(std::string_view content_type);

// The value of parameter `name` of a content type ("boundary", "start"), unquoted; empty when
// absent.
std::string ContentTypeParam(std::string_view content_type, std::string_view name);

// Splits the body at the boundary of `content_type`. The root part is the one whose
// Content-ID equals the "start" parameter, else the first part. Line breaks may be CR LF or LF.
// nullopt when the boundary is missing or the body holds no part.
std::optional<MultipartMessage> ParseMultipart(std::string_view content_type,
                                               std::string_view body);

}  // namespace orv::soap
