// Web request and web response: the one request type, from the reader that parses it to the
// operation, and the one response type, filled by the web module, the SOAP endpoint and the
// publishing pages and rendered by one writer.
//
// Thread safety: one TWebRequest / TWebResponse pair belongs to one request and is used by the
// thread serving that request only. ReasonPhrase() is pure and may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/datetime.h"

namespace orv::host {

// The kind of request method as the web layer sees it; every method other than GET, PUT,
// POST and HEAD is Any.
enum class TMethodType { Any, Get, Put, Post, Head };

TMethodType MethodTypeOf(std::string_view method);

// Reason phrase of a status code ("Unknown Response Code" for a code outside the table).
std::string ReasonPhrase(int status_code);

// Ordered list of name=value entries (query and form fields, cookies, custom headers).
// Lookups by name ignore ASCII letter case and return the first match.
class TNameValueList {
 public:
  using Entry = std::pair<std::string, std::string>;

  void Add(std::string name, std::string value);
  // Replaces the value of the first entry of that name, or adds one.
  void SetValue(std::string_view name, std::string value);
  // The value of the first entry of that name, or empty text.
  std::string Values(std::string_view name) const;
  bool Contains(std::string_view name) const;
  std::size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  const std::vector<Entry>& Items() const { return items_; }
  void Clear() { items_.clear(); }

 private:
  std::vector<Entry> items_;
};

// A cookie the response sets (one Set-Cookie header line each).
struct TCookie {
  std::string Name;
  std::string Value;
  std::string Domain;
  std::string Path;
  util::TDateTime Expires = -1;   // -1: no expiry date (session cookie)
  bool Secure = false;
  bool HttpOnly = false;

  // The value of the Set-Cookie header line.
  std::string HeaderValue() const;
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request, from the reader that parses it to the operation that answers it: the reader
// and the connection fill the wire's view (the lower-case fields), and every layer above reads
// it through the web module's accessors, which derive their values from those fields when
// asked. Nothing is copied from layer to layer; the body is held once and moved out by the
// one reader that needs it whole (TakeContent). Text that the accessors return is UTF-8,
// whatever bytes the client sent (invalid sequences become U+FFFD); the fields keep the bytes
// as they came. Tests build one by filling the fields.
struct TWebRequest {
  // ---- The wire's view, filled by the reader (HttpRequestReader) ----
  std::string method;    // upper-cased
  std::string target;    // as sent
  std::string raw_path;  // target up to the first "?", not decoded
  std::string path;      // raw_path %XX-decoded as UTF-8 ("*" stays "*")
  std::string query;     // raw text after the first "?"
  std::string version;   // "HTTP/1.1"
  int version_major = -1;
  int version_minor = -1;
  HeaderList headers;    // in arrival order, names as sent; folded lines joined
  HeaderList cookies;    // every cookie of every Cookie header
  bool has_credentials = false;   // Basic credentials of an Authorization header
  std::string auth_user;
  std::string auth_password;
  std::string body;      // body bytes (chunked bodies joined)
  bool has_body = false; // Content-Length or chunked framing was present
  bool chunked = false;  // the body came in chunks
  bool form = false;     // media type application/x-www-form-urlencoded
  std::string form_text; // form body decoded to UTF-8 text
  HeaderList query_params;  // decoded query parameters
  HeaderList form_params;   // decoded form parameters
  // ---- Filled by the connection ----
  std::string peer_address;   // the client's address (after a trusted proxy's header)
  int local_port = 0;
  std::chrono::steady_clock::time_point received_at{};   // when the request was complete
  // ---- Filled by the web module's before-dispatch hook ----
  // The address the collector operations see. Each request carries its own, so concurrent
  // operations never read another request's address.
  std::string IpCliente;

  // ---- The web module's view ----
  std::string Method() const;      // upper-cased; X-HTTP-Method-Override wins when present
  TMethodType MethodType() const { return MethodTypeOf(Method()); }
  std::string ProtocolVersion() const;
  std::string URL() const { return {}; }          // always empty
  std::string ScriptName() const { return {}; }   // always empty
  std::string Query() const;                      // the raw text after the first "?"
  const std::string& PathInfo() const { return path; }   // decoded ("*" for the target "*")
  const std::string& PathTranslated() const { return path; }
  const std::string& InternalPathInfo() const { return path; }
  std::string RawPathInfo() const;                // the path as it came, not decoded
  std::string Host() const;        // Host header up to its port's ":"
  int ServerPort() const;          // Host header's port (-1 when not a port), else local_port
  const std::string& RemoteAddr() const { return peer_address; }
  const std::string& RemoteIP() const { return peer_address; }
  std::string RemoteHost() const { return TextField("REMOTE_HOST"); }
  std::string ContentType() const;      // Content-Type without its charset parameter
  std::string ContentCharset() const;   // the charset parameter of Content-Type, "" when none
  std::int64_t ContentLength() const;   // bytes of the body
  std::string Accept() const { return TextField("Accept"); }
  std::string From() const { return TextField("From"); }
  std::string Referer() const { return TextField("Referer"); }
  std::string UserAgent() const { return TextField("User-Agent"); }
  std::string ContentEncoding() const { return TextField("Content-Encoding"); }
  std::string CacheControl() const { return TextField("Cache-Control"); }
  std::string ContentVersion() const { return TextField("CONTENT_VERSION"); }
  std::string DerivedFrom() const { return TextField("Derived-From"); }
  std::string Title() const { return TextField("Title"); }
  std::string Connection() const { return TextField("Connection"); }
  std::string Authorization() const { return TextField("Authorization"); }
  util::TDateTime Date() const { return GetDateField("Date"); }   // -1: empty or not a date
  util::TDateTime IfModifiedSince() const { return GetDateField("If-Modified-Since"); }
  util::TDateTime Expires() const { return GetDateField("Expires"); }
  std::string AuthUserName() const;
  std::string AuthPassword() const;
  TNameValueList CookieFields() const;    // one name=value entry per request cookie
  TNameValueList QueryFields() const;     // decoded query parameters
  TNameValueList ContentFields() const;   // decoded form parameters (form bodies only)
  const HeaderList& Headers() const { return headers; }

  // The body bytes exactly as read from the connection (for a form body: the form text).
  const std::string& RawContent() const { return form ? form_text : body; }
  const std::string& ReadContent() const { return RawContent(); }
  // The body as UTF-8 text, decoded from ContentCharset on first use, so that a large body is
  // held twice only when something asks for its text. For a form body the form text, for a
  // request without a body its query.
  const std::string& Content() const;
  // Moves the body bytes out (RawContent is empty afterwards), for the one reader that needs
  // them whole and should not hold them twice.
  std::string TakeContent();

  // Raw value of the first header of that name, ignoring letter case; empty when absent.
  std::string GetFieldByName(std::string_view name) const;
  bool HasField(std::string_view name) const;
  // Integer value of a header, -1 when empty or not a decimal number.
  std::int64_t GetIntegerField(std::string_view name) const;
  // Date value of a header (HTTP date), -1 when empty or invalid.
  util::TDateTime GetDateField(std::string_view name) const;

 private:
  // A header's value as UTF-8 text.
  std::string TextField(std::string_view name) const;

  mutable std::optional<std::string> content_;
};

// One response, filled by the layers that answer the request and rendered by one writer
// (RenderHeader, in http_response.h) for the listener. Defaults: 200 "OK", ContentType
// "text/html", no content. The listener's exchange installs the sender that writes it to the
// connection; SendResponse writes it once and later calls do nothing.
class TWebResponse {
 public:
  using Sender = std::function<void()>;

  explicit TWebResponse(std::string version = "HTTP/1.1", Sender sender = {});

  int StatusCode() const { return status_code_; }
  // Also sets ReasonString from the reason table.
  void SetStatusCode(int code);
  std::string ReasonString = "OK";

  // The request's version; setting it has no effect (the status line is always HTTP/1.1).
  const std::string& Version() const { return version_; }
  void SetVersion(std::string_view) {}

  // Header fields, written in the writer's fixed order when not empty.
  std::string Connection = "close";
  std::string ContentType = "text/html";   // as set; the writer renders its character set
  std::string ContentVersion;
  std::string ContentDisposition;
  std::string ContentEncoding;
  std::string ContentLanguage;
  std::string CacheControl;
  std::string ETag;
  std::string Pragma;
  std::string TransferEncoding;   // set: no Content-Length line
  std::string ContentRange;
  std::string AcceptRanges;
  std::string Location;
  std::string Server;
  std::string Allow;            // sent as custom header Allow
  std::string DerivedFrom;      // sent as custom header Derived-From
  std::string Title;            // sent as custom header Title
  std::string WWWAuthenticate;  // challenge line
  std::string Realm;            // non-empty: 401 with WWW-Authenticate: Basic realm="..."
  std::string LogMessage;       // ignored
  util::TDateTime Date = -1;
  util::TDateTime Expires = -1;
  util::TDateTime LastModified = -1;
  TNameValueList CustomHeaders;
  std::vector<TCookie> Cookies;

  // Body text (UTF-8). Setting it drops a body stream.
  const std::string& Content() const { return content_; }
  void SetContent(std::string utf8_text);
  // Body bytes, sent unchanged. Setting it drops body text.
  const std::optional<std::string>& ContentStream() const { return stream_; }
  void SetContentStream(std::string bytes);
  // Body bytes in pieces, sent unchanged one after the other: a long answer made piece by piece
  // (GetSQL's script) is never joined in memory. Setting it drops body text and stream.
  void SetContentParts(std::vector<std::string> parts);
  bool HasBody() const { return stream_.has_value() || !content_.empty() || !parts_.empty(); }

  // The bytes that go on the wire as the body: the stream, or the text converted to UTF-8 when
  // the content type names the UTF-8 character set, else to the host's ANSI code page.
  std::string BodyBytes() const;
  // The same, moved out of the response (the writer needs them once; they can be tens of
  // megabytes).
  std::string TakeBodyBytes();
  // Moved out as the pieces it was set in (text or a stream: one piece).
  std::vector<std::string> TakeBodyParts();
  // Byte count of BodyBytes().
  std::int64_t ContentLength() const;

  // Sends the response once (through the sender); later calls do nothing.
  void SendResponse();
  // Status 302 with Location, then sends.
  void SendRedirect(const std::string& uri);
  // Sets the body bytes, then sends.
  void SendStream(std::string bytes);
  bool Sent() const { return sent_; }

  // For the listener: installs the sender.
  void SetSender(Sender sender) { sender_ = std::move(sender); }

  // A response of the listener's own error statuses: no Content-Type, no body (so
  // Content-Length 0), Connection close.
  static TWebResponse Error(int code);

 private:
  int status_code_ = 200;
  std::string version_;
  std::string content_;
  std::optional<std::string> stream_;
  std::vector<std::string> parts_;
  Sender sender_;
  bool sent_ = false;
};

}  // namespace orv::host
