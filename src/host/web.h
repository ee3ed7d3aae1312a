// Web request and web response: what the request bridge builds from each HTTP request and what
// the web module, the SOAP endpoint and the publishing pages read and fill.
//
// Thread safety: one TWebRequest / TWebResponse pair belongs to one request and is used by the
// thread serving that request only. ReasonPhrase() is pure and may be called from any thread.
#pragma once

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

// One request as the web module sees it. The bridge fills every field; tests may build one
// by hand. Text fields are UTF-8.
struct TWebRequest {
  std::string Method;             // upper-cased; X-HTTP-Method-Override wins when present
  TMethodType MethodType = TMethodType::Any;
  std::string ProtocolVersion;    // "HTTP/1.1"
  std::string URL;                // always empty
  std::string Query;              // raw text after the first "?"
  std::string PathInfo;           // decoded path ("*" for the target "*")
  std::string PathTranslated;
  std::string InternalPathInfo;
  std::string RawPathInfo;        // path as it came, not decoded
  std::string ScriptName;         // always empty
  std::string Cookie;             // always empty (see CookieFields)
  std::string Host;               // Host header up to its first ":"
  int ServerPort = -1;            // Host header's port, else the connection's local port
  std::string RemoteAddr;
  std::string RemoteIP;
  std::string RemoteHost;         // header REMOTE_HOST
  std::string ContentType;        // Content-Type without its charset parameter
  std::int64_t ContentLength = 0; // bytes of the body
  std::string Accept;
  std::string From;
  std::string Referer;
  std::string UserAgent;
  std::string ContentEncoding;
  std::string CacheControl;
  util::TDateTime Date = -1;            // -1: empty or not an HTTP date
  util::TDateTime IfModifiedSince = -1;
  std::string ContentVersion;
  std::string DerivedFrom;
  util::TDateTime Expires = -1;
  std::string Title;
  std::string Connection;
  std::string Authorization;

  // The body bytes exactly as read from the connection (for a form body: the form text).
  std::string RawContent;
  std::string ContentCharset;     // the charset parameter of Content-Type, "" when none
  // The body as UTF-8 text, decoded from ContentCharset on first use, so that a large body is
  // held twice only when something asks for its text. For a form body the form text, for a
  // request without a body its query (both set with SetContent).
  const std::string& Content() const;
  void SetContent(std::string utf8_text) { content_ = std::move(utf8_text); }
  // Every header line in arrival order, names as sent.
  std::vector<std::pair<std::string, std::string>> Headers;
  TNameValueList CookieFields;    // one name=value entry per request cookie
  TNameValueList QueryFields;     // decoded query parameters
  TNameValueList ContentFields;   // decoded form parameters (form bodies only)
  // Basic credentials of an Authorization header.
  std::string AuthUserName;
  std::string AuthPassword;

  // The peer address of this request, set by the web module's before-dispatch hook. Each
  // request carries its own, so concurrent collector operations never read another
  // request's address.
  std::string IpCliente;

  // Raw value of a header by name, ignoring letter case; empty when absent.
  std::string GetFieldByName(std::string_view name) const;
  bool HasField(std::string_view name) const;
  // Integer value of a header, -1 when empty or not a decimal number.
  std::int64_t GetIntegerField(std::string_view name) const;
  // Date value of a header (HTTP date), -1 when empty or invalid.
  util::TDateTime GetDateField(std::string_view name) const;
  // The body bytes in order.
  const std::string& ReadContent() const { return RawContent; }

 private:
  mutable std::optional<std::string> content_;
};

// One response as the web module fills it. Defaults: 200 "OK", ContentType "text/html", no
// content. The bridge gives it a sender that writes it to the connection; SendResponse writes
// it once and later calls do nothing.
class TWebResponse {
 public:
  using Sender = std::function<void(TWebResponse&)>;

  explicit TWebResponse(std::string version = "HTTP/1.1", Sender sender = {});

  int StatusCode() const { return status_code_; }
  // Also sets ReasonString from the reason table.
  void SetStatusCode(int code);
  std::string ReasonString = "OK";

  // The request's version; setting it has no effect.
  const std::string& Version() const { return version_; }
  void SetVersion(std::string_view) {}

  std::string ContentType = "text/html";
  std::string ContentEncoding;
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
  // Moves the body stream out (for the sender, which needs it only once).
  std::optional<std::string> TakeContentStream() {
    std::optional<std::string> out;
    out.swap(stream_);
    return out;
  }
  bool HasBody() const { return stream_.has_value() || !content_.empty(); }

  // The bytes that go on the wire as the body: the stream, or the text converted to UTF-8 when
  // the content type names the UTF-8 character set, else to the host's ANSI code page.
  std::string BodyBytes() const;
  // Byte count of BodyBytes().
  std::int64_t ContentLength() const;

  // Sends the response once (through the sender); later calls do nothing.
  void SendResponse();
  // Status 302 with Location, then sends.
  void SendRedirect(const std::string& uri);
  // Sets the body bytes, then sends.
  void SendStream(std::string bytes);
  bool Sent() const { return sent_; }

  // For the bridge: installs the sender (when built before the connection is known).
  void SetSender(Sender sender) { sender_ = std::move(sender); }

 private:
  int status_code_ = 200;
  std::string version_;
  std::string content_;
  std::optional<std::string> stream_;
  Sender sender_;
  bool sent_ = false;
};

}  // namespace orv::host
