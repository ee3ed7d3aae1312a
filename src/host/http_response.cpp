// The response writer.
#include "host/http_response.h"

#include "host/http_util.h"

namespace orv::host {
namespace {

// A line break inside a header value would start a header line of its own: it becomes a space.
void AppendValue(std::string& h, const std::string& value) {
  for (char c : value) h += (c == '\r' || c == '\n') ? ' ' : c;
}

std::string DateText(util::TDateTime value) {
  return value >= 0 ? FormatHttpDate(value) : std::string();
}

}  // namespace

std::string RenderHeader(const TWebResponse& r, std::size_t body_size) {
  std::string h;
  h.reserve(256);
  auto line = [&h](const char* name, const std::string& value) {
    if (value.empty()) return;
    h += name;
    h += ": ";
    AppendValue(h, value);
    h += "\r\n";
  };
  auto custom = [&h](const std::string& name, const std::string& value) {
    AppendValue(h, name);
    h += ": ";
    AppendValue(h, value);
    h += "\r\n";
  };
  const bool challenge = !r.Realm.empty();

  h += "HTTP/1.1 ";
  h += std::to_string(challenge ? 401 : r.StatusCode());
  h += ' ';
  h += challenge ? ReasonPhrase(401) : r.ReasonString;
  h += "\r\n";
  line("Connection", r.Connection);
  line("Content-Version", r.ContentVersion);
  line("Content-Disposition", r.ContentDisposition);
  line("Content-Encoding", r.ContentEncoding);
  line("Content-Language", r.ContentLanguage);
  line("Content-Type", RenderContentType(r.ContentType));
  if (r.TransferEncoding.empty()) line("Content-Length", std::to_string(body_size));
  line("Cache-control", r.CacheControl);
  line("Date", DateText(r.Date));
  line("ETag", r.ETag);
  line("Expires", DateText(r.Expires));
  line("Pragma", r.Pragma);
  line("Transfer-Encoding", r.TransferEncoding);
  if (!r.Allow.empty()) custom("Allow", r.Allow);
  if (!r.DerivedFrom.empty()) custom("Derived-From", r.DerivedFrom);
  if (!r.Title.empty()) custom("Title", r.Title);
  for (const auto& [name, value] : r.CustomHeaders.Items()) custom(name, value);
  line("Content-Range", r.ContentRange);
  line("Accept-Ranges", r.AcceptRanges);
  line("Last-Modified", DateText(r.LastModified));
  line("Server", r.Server);
  line("Location", r.Location);
  line("WWW-Authenticate", r.WWWAuthenticate);
  if (challenge) line("WWW-Authenticate", "Basic realm=\"" + r.Realm + "\"");
  for (const TCookie& cookie : r.Cookies) line("Set-Cookie", cookie.HeaderValue());
  h += "\r\n";
  return h;
}

std::vector<std::string> RenderResponseParts(TWebResponse& response) {
  std::vector<std::string> body = response.TakeBodyParts();
  std::size_t size = 0;
  for (const std::string& p : body) size += p.size();
  std::string head = RenderHeader(response, size);
  std::vector<std::string> parts;
  if (body.size() == 1) {
    // One piece: header and body go out in one buffer.
    if (head.capacity() < head.size() + size) head.reserve(head.size() + size);
    head += body.front();
    parts.push_back(std::move(head));
    return parts;
  }
  parts.reserve(body.size() + 1);
  parts.push_back(std::move(head));
  for (std::string& p : body) parts.push_back(std::move(p));
  return parts;
}

std::string RenderResponse(TWebResponse& response) {
  std::vector<std::string> parts = RenderResponseParts(response);
  if (parts.size() == 1) return std::move(parts.front());
  std::string bytes;
  for (const std::string& p : parts) bytes += p;
  return bytes;
}

}  // namespace orv::host
