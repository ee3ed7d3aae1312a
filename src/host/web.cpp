// Web request and web response.
#include "host/web.h"

#include <cstdio>

#include "host/http_util.h"
#include "util/text.h"

namespace orv::host {

TMethodType MethodTypeOf(std::string_view method) {
  if (method == "GET") return TMethodType::Get;
  if (method == "PUT") return TMethodType::Put;
  if (method == "POST") return TMethodType::Post;
  if (method == "HEAD") return TMethodType::Head;
  return TMethodType::Any;
}

std::string ReasonPhrase(int code) {
  switch (code) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 203: return "Non-authoritative Information";
    case 204: return "No Content";
    case 205: return "Reset Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Moved Temporarily";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 305: return "Use Proxy";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method not allowed";
    case 406: return "Not Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 412: return "Precondition Failed";
    case 413: return "Request Entity Too Long";
    case 414: return "Request-URI Too Long. 256 Chars max";
    case 415: return "Unsupported Media Type";
    case 417: return "Expectation Failed";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway timeout";
    case 505: return "HTTP version not supported";
    default: return "Unknown Response Code";
  }
}

// ---- TNameValueList --------------------------------------------------------------------------

void TNameValueList::Add(std::string name, std::string value) {
  items_.emplace_back(std::move(name), std::move(value));
}

void TNameValueList::SetValue(std::string_view name, std::string value) {
  for (auto& [n, v] : items_) {
    if (util::AsciiIEquals(n, name)) {
      v = std::move(value);
      return;
    }
  }
  items_.emplace_back(std::string(name), std::move(value));
}

std::string TNameValueList::Values(std::string_view name) const {
  for (const auto& [n, v] : items_) {
    if (util::AsciiIEquals(n, name)) return v;
  }
  return {};
}

bool TNameValueList::Contains(std::string_view name) const {
  for (const auto& entry : items_) {
    if (util::AsciiIEquals(entry.first, name)) return true;
  }
  return false;
}

// ---- TCookie ---------------------------------------------------------------------------------

std::string TCookie::HeaderValue() const {
  std::string out = Name + "=" + Value;
  if (!Domain.empty()) out += "; domain=" + Domain;
  if (!Path.empty()) out += "; path=" + Path;
  if (Expires >= 0) out += "; expires=" + FormatHttpDate(Expires);
  if (Secure) out += "; secure";
  if (HttpOnly) out += "; httponly";
  return out;
}

// ---- TWebRequest -----------------------------------------------------------------------------

namespace {

// Bytes from the wire as UTF-8 text: invalid sequences become U+FFFD.
std::string Text(const std::string& bytes) { return util::SanitisedUtf8(bytes); }

const std::string* FindField(const HeaderList& headers, std::string_view name) {
  for (const auto& [n, v] : headers) {
    if (util::AsciiIEquals(n, name)) return &v;
  }
  return nullptr;
}

// Where the port starts in a Host value (npos: none); a bracketed IPv6 literal keeps its colons.
std::size_t PortColon(const std::string& host) {
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    return close == std::string::npos ? std::string::npos : host.find(':', close);
  }
  return host.find(':');
}

}  // namespace

std::string TWebRequest::TextField(std::string_view name) const {
  return Text(GetFieldByName(name));
}

std::string TWebRequest::Method() const {
  const std::string* override_method = FindField(headers, "X-HTTP-Method-Override");
  return Text(override_method ? *override_method : method);
}

std::string TWebRequest::ProtocolVersion() const { return Text(version); }

std::string TWebRequest::Query() const { return Text(query); }

std::string TWebRequest::RawPathInfo() const { return Text(raw_path); }

std::string TWebRequest::Host() const {
  const std::string host = TextField("Host");
  return host.substr(0, PortColon(host));
}

int TWebRequest::ServerPort() const {
  const std::string host = TextField("Host");
  const std::size_t colon = PortColon(host);
  if (colon == std::string::npos) return local_port;
  const std::int64_t port = ParseDecimal(host.substr(colon + 1));
  return port >= 0 && port <= 65535 ? static_cast<int>(port) : -1;
}

std::string TWebRequest::ContentType() const {
  if (!HasField("Content-Type")) return {};
  const ContentTypeParts ct = SplitContentType(TextField("Content-Type"));
  return ct.media_type + ct.other_params;
}

std::string TWebRequest::ContentCharset() const {
  if (form || (!has_body && body.empty())) return {};
  return SplitContentType(TextField("Content-Type")).charset;
}

std::int64_t TWebRequest::ContentLength() const {
  return static_cast<std::int64_t>(body.size());
}

std::string TWebRequest::AuthUserName() const {
  return has_credentials ? Text(auth_user) : std::string();
}

std::string TWebRequest::AuthPassword() const {
  return has_credentials ? Text(auth_password) : std::string();
}

TNameValueList TWebRequest::CookieFields() const {
  TNameValueList out;
  for (const auto& [n, v] : cookies) out.Add(Text(n), Text(v));
  return out;
}

TNameValueList TWebRequest::QueryFields() const {
  TNameValueList out;
  for (const auto& [n, v] : query_params) out.Add(n, v);
  return out;
}

TNameValueList TWebRequest::ContentFields() const {
  TNameValueList out;
  for (const auto& [n, v] : form_params) out.Add(n, v);
  return out;
}

const std::string& TWebRequest::Content() const {
  if (!content_) {
    if (form) {
      content_ = form_text;
    } else if (!has_body && body.empty()) {
      content_ = Query();   // a request without a body presents its query as its content
    } else {
      content_ = DecodeText(body, ContentCharset());
    }
  }
  return *content_;
}

std::string TWebRequest::TakeContent() {
  std::string out = std::move(form ? form_text : body);
  (form ? form_text : body).clear();
  return out;
}

std::string TWebRequest::GetFieldByName(std::string_view name) const {
  const std::string* value = FindField(headers, name);
  return value ? *value : std::string();
}

bool TWebRequest::HasField(std::string_view name) const {
  return FindField(headers, name) != nullptr;
}

std::int64_t TWebRequest::GetIntegerField(std::string_view name) const {
  return ParseDecimal(GetFieldByName(name));
}

util::TDateTime TWebRequest::GetDateField(std::string_view name) const {
  return ParseHttpDate(GetFieldByName(name));
}

// ---- TWebResponse ----------------------------------------------------------------------------

TWebResponse::TWebResponse(std::string version, Sender sender)
    : version_(std::move(version)), sender_(std::move(sender)) {}

void TWebResponse::SetStatusCode(int code) {
  status_code_ = code;
  ReasonString = ReasonPhrase(code);
}

void TWebResponse::SetContent(std::string utf8_text) {
  content_ = std::move(utf8_text);
  stream_.reset();
  parts_.clear();
}

void TWebResponse::SetContentStream(std::string bytes) {
  stream_ = std::move(bytes);
  content_.clear();
  parts_.clear();
}

void TWebResponse::SetContentParts(std::vector<std::string> parts) {
  parts_ = std::move(parts);
  stream_.reset();
  content_.clear();
}

TWebResponse TWebResponse::Error(int code) {
  TWebResponse r;
  r.SetStatusCode(code);
  r.ContentType.clear();
  return r;
}

std::string TWebResponse::TakeBodyBytes() {
  std::string out = stream_ ? std::move(*stream_) : BodyBytes();
  stream_.reset();
  content_.clear();
  parts_.clear();
  return out;
}

std::vector<std::string> TWebResponse::TakeBodyParts() {
  if (parts_.empty()) {
    std::vector<std::string> one;
    one.push_back(TakeBodyBytes());
    return one;
  }
  std::vector<std::string> out = std::move(parts_);
  parts_.clear();
  return out;
}

std::string TWebResponse::BodyBytes() const {
  if (stream_) return *stream_;
  if (!parts_.empty()) {
    std::string out;
    out.reserve(static_cast<std::size_t>(ContentLength()));
    for (const std::string& p : parts_) out += p;
    return out;
  }
  if (content_.empty()) return {};
  return EncodeBodyText(content_, ContentType);
}

std::int64_t TWebResponse::ContentLength() const {
  if (stream_) return static_cast<std::int64_t>(stream_->size());
  if (!parts_.empty()) {
    std::size_t n = 0;
    for (const std::string& p : parts_) n += p.size();
    return static_cast<std::int64_t>(n);
  }
  return static_cast<std::int64_t>(BodyBytes().size());
}

void TWebResponse::SendResponse() {
  if (sent_) return;
  sent_ = true;
  if (sender_) sender_();
}

void TWebResponse::SendRedirect(const std::string& uri) {
  SetStatusCode(302);
  Location = uri;
  SendResponse();
}

void TWebResponse::SendStream(std::string bytes) {
  SetContentStream(std::move(bytes));
  SendResponse();
}

}  // namespace orv::host
