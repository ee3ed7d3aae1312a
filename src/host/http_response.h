// HTTP response of one connection and its rendering: status line (always HTTP/1.1), header
// lines in their fixed order, the Content-Type character set rules and the body conversion.
//
// Thread safety: one response per request, used by one thread at a time; rendering is pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orv::host {

struct HttpResponse {
  int status = 200;
  std::string reason = "OK";
  std::string connection = "close";
  std::string content_type = "text/html";   // as the web layer set it; rendered on writing
  std::int64_t content_length = -1;          // -1: not set, computed from the body
  std::string content_version;
  std::string content_disposition;
  std::string content_encoding;
  std::string content_language;
  std::string cache_control;
  std::string date;
  std::string etag;
  std::string expires;
  std::string pragma;
  std::string transfer_encoding;
  std::vector<std::pair<std::string, std::string>> custom_headers;
  std::string content_range;
  std::string accept_ranges;
  std::string last_modified;
  std::string server;
  std::string location;
  std::vector<std::string> www_authenticate;
  std::vector<std::string> set_cookies;   // one Set-Cookie line each
  std::string body_text;                  // UTF-8, converted on writing
  std::optional<std::string> body_stream; // bytes, sent unchanged

  // Sets the status and its reason phrase.
  void SetStatus(int code);

  // A response of the listener's own error statuses: Connection close, Content-Length 0, no
  // Content-Type, no body.
  static HttpResponse Error(int code);

  // The bytes of the body as they go out (text converted by the content type's rules).
  std::string BodyBytes() const;
  // Header block (status line to the empty line) for a body of body_size bytes.
  std::string RenderHeader(std::size_t body_size) const;
};

}  // namespace orv::host
