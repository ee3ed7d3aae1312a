// HTTP response rendering.
#include "host/http_response.h"

#include "host/http_util.h"
#include "host/web.h"

namespace orv::host {
namespace {

// A line break inside a header value would start a header line of its own: it becomes a space.
void AppendValue(std::string& h, const std::string& value) {
  for (char c : value) h += (c == '\r' || c == '\n') ? ' ' : c;
}

}  // namespace

void HttpResponse::SetStatus(int code) {
  status = code;
  reason = ReasonPhrase(code);
}

HttpResponse HttpResponse::Error(int code) {
  HttpResponse r;
  r.SetStatus(code);
  r.content_type.clear();
  r.content_length = 0;
  return r;
}

std::string HttpResponse::BodyBytes() const {
  if (!body_text.empty()) return EncodeBodyText(body_text, content_type);
  if (body_stream) return *body_stream;
  return {};
}

std::string HttpResponse::RenderHeader(std::size_t body_size) const {
  std::string h;
  h.reserve(256);
  auto line = [&h](const char* name, const std::string& value) {
    if (value.empty()) return;
    h += name;
    h += ": ";
    AppendValue(h, value);
    h += "\r\n";
  };
  std::int64_t length = content_length;
  if (length < 0 && transfer_encoding.empty()) length = static_cast<std::int64_t>(body_size);

  h += "HTTP/1.1 ";
  h += std::to_string(status);
  h += ' ';
  h += reason;
  h += "\r\n";
  line("Connection", connection);
  line("Content-Version", content_version);
  line("Content-Disposition", content_disposition);
  line("Content-Encoding", content_encoding);
  line("Content-Language", content_language);
  line("Content-Type", RenderContentType(content_type));
  if (length >= 0) line("Content-Length", std::to_string(length));
  line("Cache-control", cache_control);
  line("Date", date);
  line("ETag", etag);
  line("Expires", expires);
  line("Pragma", pragma);
  line("Transfer-Encoding", transfer_encoding);
  for (const auto& [name, value] : custom_headers) {
    AppendValue(h, name);
    h += ": ";
    AppendValue(h, value);
    h += "\r\n";
  }
  line("Content-Range", content_range);
  line("Accept-Ranges", accept_ranges);
  line("Last-Modified", last_modified);
  line("Server", server);
  line("Location", location);
  for (const auto& challenge : www_authenticate) line("WWW-Authenticate", challenge);
  for (const auto& cookie : set_cookies) line("Set-Cookie", cookie);
  h += "\r\n";
  return h;
}

}  // namespace orv::host
