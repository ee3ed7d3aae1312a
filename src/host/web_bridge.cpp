// Web request bridge and module pool.
#include "host/web_bridge.h"

#include <algorithm>
#include <stdexcept>

#include "host/http_server.h"
#include "host/http_util.h"
#include "util/text.h"

namespace orv::host {

// ---- TWebRequestHandler ----------------------------------------------------------------------

TWebRequestHandler::TWebRequestHandler(std::size_t max_active, DispatchWait wait)
    : max_active_(max_active), wait_(wait) {}

TWebRequestHandler::~TWebRequestHandler() = default;

void TWebRequestHandler::SetWebModuleClass(WebModuleFactory factory) {
  std::lock_guard<std::mutex> lock(lock_);
  factory_ = std::move(factory);
  idle_.clear();   // sets of an earlier class are not reused
}

std::size_t TWebRequestHandler::InactiveCount() const {
  std::lock_guard<std::mutex> lock(lock_);
  return idle_.size();
}

std::size_t TWebRequestHandler::WaitingCount() const {
  std::lock_guard<std::mutex> lock(lock_);
  return waiters_.size();
}

std::size_t TWebRequestHandler::CreatedCount() const {
  std::lock_guard<std::mutex> lock(lock_);
  return created_;
}

std::unique_ptr<TWebRequestHandler::ModuleSet> TWebRequestHandler::Take(
    std::chrono::steady_clock::time_point deadline) {
  WebModuleFactory factory;
  {
    std::unique_lock<std::mutex> lock(lock_);
    if (active_count_.load() < max_active_ && waiters_.empty()) {
      ++active_count_;
    } else {
      // Every set is busy (or others wait first): wait for Return to hand one over.
      if (waiters_.size() >= wait_.max_waiting)
        throw std::runtime_error(kTooManyConnectionsMessage);
      Waiter me;
      waiters_.push_back(&me);
      if (!me.wake.wait_until(lock, deadline, [&me] { return me.granted; })) {
        waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &me));
        throw std::runtime_error(kTooManyConnectionsMessage);
      }
      // The slot is this request's now: Return counted it as active on its behalf.
    }
    if (!idle_.empty()) {
      std::unique_ptr<ModuleSet> set = std::move(idle_.front());
      idle_.pop_front();
      return set;
    }
    factory = factory_;
    ++created_;
  }
  // A new set is made outside the lock: its slot is already counted as active.
  try {
    if (!factory) throw std::runtime_error("No web module class is set");
    auto set = std::make_unique<ModuleSet>();
    set->module = factory();
    if (!set->module) throw std::runtime_error("No web module class is set");
    return set;
  } catch (...) {
    std::lock_guard<std::mutex> lock(lock_);
    --created_;
    HandOverOrFree();
    throw;
  }
}

void TWebRequestHandler::HandOverOrFree() {
  if (waiters_.empty()) {
    --active_count_;
    return;
  }
  Waiter* next = waiters_.front();
  waiters_.pop_front();
  next->granted = true;
  next->wake.notify_one();
}

void TWebRequestHandler::Return(std::unique_ptr<ModuleSet> set) {
  std::lock_guard<std::mutex> lock(lock_);
  idle_.push_back(std::move(set));
  HandOverOrFree();
}

bool TWebRequestHandler::HandleRequest(TWebRequest& request, TWebResponse& response,
                                       std::chrono::steady_clock::time_point arrival) {
  if (arrival == std::chrono::steady_clock::time_point{}) arrival = std::chrono::steady_clock::now();
  bool handled = false;
  {
    std::unique_ptr<ModuleSet> set = Take(arrival + wait_.timeout);
    struct Returner {
      TWebRequestHandler* handler;
      std::unique_ptr<ModuleSet>& set;
      ~Returner() { handler->Return(std::move(set)); }
    } returner{this, set};
    handled = set->module->Dispatch(request, response);
  }
  // The set goes back before the answer leaves: a client that waits for its answer and sends
  // the next request at once must find the set free again, or a client that never has more
  // than the limit in flight would be refused.
  if (handled && !response.Sent()) response.SendResponse();
  return handled;
}

// ---- Building the web request ----------------------------------------------------------------

namespace {

// Bytes from the wire as UTF-8 text: invalid sequences become U+FFFD.
std::string Text(const std::string& bytes) {
  if (util::IsValidUtf8(bytes)) return bytes;
  return util::Utf16ToUtf8(util::Utf8ToUtf16(bytes));
}

}  // namespace

namespace {

TWebRequest Build(const ParsedRequest& http, std::string* body_to_take) {
  // Every text field of the web request is UTF-8, whatever bytes the client sent; the header
  // list keeps the raw values.
  auto header = [&http](std::string_view name) { return Text(http.Header(name)); };
  TWebRequest r;
  r.Method = http.HasHeader("X-HTTP-Method-Override") ? header("X-HTTP-Method-Override")
                                                      : Text(http.method);
  r.MethodType = MethodTypeOf(r.Method);
  r.ProtocolVersion = Text(http.version);
  r.Query = Text(http.query);
  r.PathInfo = http.path;
  r.PathTranslated = http.path;
  r.InternalPathInfo = http.path;
  r.RawPathInfo = Text(http.raw_path);

  // Host and port; a bracketed IPv6 literal keeps its colons in the host part.
  const std::string host = header("Host");
  std::size_t colon = std::string::npos;
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    colon = close == std::string::npos ? std::string::npos : host.find(':', close);
  } else {
    colon = host.find(':');
  }
  r.Host = host.substr(0, colon);
  if (colon != std::string::npos) {
    const std::int64_t port = ParseDecimal(host.substr(colon + 1));
    r.ServerPort = port >= 0 && port <= 65535 ? static_cast<int>(port) : -1;
  } else {
    r.ServerPort = http.local_port;
  }

  r.RemoteAddr = http.peer_address;
  r.RemoteIP = http.peer_address;
  r.RemoteHost = header("REMOTE_HOST");

  const ContentTypeParts ct = SplitContentType(header("Content-Type"));
  if (http.HasHeader("Content-Type")) r.ContentType = ct.media_type + ct.other_params;

  r.ContentLength = static_cast<std::int64_t>(http.body.size());
  if (http.form) {
    r.SetContent(http.form_text);
    r.RawContent = http.form_text;
  } else if (!http.has_body && http.body.empty()) {
    r.SetContent(r.Query);   // a request without a body presents its query as its content
  } else {
    r.ContentCharset = ct.charset;
    r.RawContent = body_to_take ? std::move(*body_to_take) : http.body;
  }

  r.Accept = header("Accept");
  r.From = header("From");
  r.Referer = header("Referer");
  r.UserAgent = header("User-Agent");
  r.ContentEncoding = header("Content-Encoding");
  r.CacheControl = header("Cache-Control");
  r.Date = ParseHttpDate(http.Header("Date"));
  r.IfModifiedSince = ParseHttpDate(http.Header("If-Modified-Since"));
  r.ContentVersion = header("CONTENT_VERSION");
  r.DerivedFrom = header("Derived-From");
  r.Expires = ParseHttpDate(http.Header("Expires"));
  r.Title = header("Title");
  r.Connection = header("Connection");
  r.Authorization = header("Authorization");

  r.Headers = http.headers;
  for (const auto& [n, v] : http.cookies) r.CookieFields.Add(Text(n), Text(v));
  for (const auto& [n, v] : http.query_params) r.QueryFields.Add(n, v);
  for (const auto& [n, v] : http.form_params) r.ContentFields.Add(n, v);
  if (http.has_credentials) {
    r.AuthUserName = Text(http.auth_user);
    r.AuthPassword = Text(http.auth_password);
  }
  return r;
}

}  // namespace

TWebRequest BuildWebRequest(const ParsedRequest& http) { return Build(http, nullptr); }

TWebRequest BuildWebRequestTakingBody(ParsedRequest& http) { return Build(http, &http.body); }

// ---- Sending the web response ----------------------------------------------------------------

void CopyToHttpResponse(const TWebResponse& web, HttpResponse& http) {
  http.status = web.StatusCode();
  http.reason = web.ReasonString;
  http.content_type = web.ContentType;
  http.content_encoding = web.ContentEncoding;
  http.location = web.Location;
  http.server = web.Server;
  if (web.Date >= 0) http.date = FormatHttpDate(web.Date);
  if (web.Expires >= 0) http.expires = FormatHttpDate(web.Expires);
  if (web.LastModified >= 0) http.last_modified = FormatHttpDate(web.LastModified);
  if (!web.Allow.empty()) http.custom_headers.emplace_back("Allow", web.Allow);
  if (!web.DerivedFrom.empty()) http.custom_headers.emplace_back("Derived-From", web.DerivedFrom);
  if (!web.Title.empty()) http.custom_headers.emplace_back("Title", web.Title);
  for (const auto& [n, v] : web.CustomHeaders.Items()) http.custom_headers.emplace_back(n, v);
  if (!web.WWWAuthenticate.empty()) http.www_authenticate.push_back(web.WWWAuthenticate);
  if (!web.Realm.empty()) {
    http.SetStatus(401);
    http.www_authenticate.push_back("Basic realm=\"" + web.Realm + "\"");
  }
  for (const TCookie& c : web.Cookies) http.set_cookies.push_back(c.HeaderValue());
  http.content_length = -1;   // recomputed from the body actually sent
  if (web.ContentStream()) {
    http.body_stream = *web.ContentStream();
    http.body_text.clear();
  } else {
    http.body_text = web.Content();
    http.body_stream.reset();
  }
}

void ServeWebRequest(TWebRequestHandler& handler, HttpExchange& exchange) {
  // The body and the answer's bytes are moved along, never copied: either can be tens of
  // megabytes.
  TWebRequest request = BuildWebRequestTakingBody(exchange.MutableRequest());
  TWebResponse response(request.ProtocolVersion, [&exchange](TWebResponse& r) {
    std::optional<std::string> stream = r.TakeContentStream();
    CopyToHttpResponse(r, exchange.Response());
    if (stream) {
      exchange.Response().body_stream = std::move(stream);
      exchange.Response().body_text.clear();
    }
    exchange.Write();
  });
  handler.HandleRequest(request, response, exchange.Request().received_at);
}

}  // namespace orv::host
