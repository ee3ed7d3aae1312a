// HTTP request reader: turns the bytes of one connection into one parsed request, checking
// lines, headers, the Host rule, Expect, Content-Length, chunked bodies and limits. It knows no
// sockets: the connection feeds it whatever arrived, so tests and the fuzzer drive it directly.
//
// Thread safety: one reader per connection, used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/http_limits.h"

namespace orv::host {

// The request-body bytes the process may hold at once (see kMaxBufferedBodyBytes): readers
// take their body's share before reading it and give it back when they end.
// Thread safety: any thread.
class BodyBudget {
 public:
  explicit BodyBudget(std::uint64_t total = kMaxBufferedBodyBytes,
                      std::uint64_t large_total = kMaxLargeBodiesBytes,
                      std::uint64_t small_body = kSmallBodyBytes)
      : total_(total), large_total_(large_total), small_body_(small_body) {}
  BodyBudget(const BodyBudget&) = delete;
  BodyBudget& operator=(const BodyBudget&) = delete;

  // Takes `bytes` more for a body that then holds `body_total` bytes; false (nothing taken)
  // when they do not fit. Returns through `large` whether they were counted as large.
  bool TryTake(std::uint64_t bytes, std::uint64_t body_total, bool& large);
  void Give(std::uint64_t bytes, bool large);
  std::uint64_t InUse() const;

 private:
  const std::uint64_t total_;
  const std::uint64_t large_total_;
  const std::uint64_t small_body_;
  mutable std::mutex mutex_;
  std::uint64_t in_use_ = 0;
  std::uint64_t large_in_use_ = 0;
};

// Limits of the reader (reasons in http_limits.h); tests may lower them.
struct ReaderLimits {
  std::size_t max_line = kMaxLineLength;
  std::size_t max_header_lines = kMaxHeaderLines;   // the empty line that ends them not counted
  std::uint64_t max_body = kMaxBodyBytes;
  BodyBudget* budget = nullptr;   // none: bodies are limited only by max_body
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request as read from the connection.
struct ParsedRequest {
  std::string method;    // upper-cased
  std::string target;    // as sent
  std::string raw_path;  // target up to the first "?", not decoded
  std::string path;      // raw_path %XX-decoded as UTF-8 ("*" stays "*")
  std::string query;     // raw text after the first "?"
  std::string version;   // "HTTP/1.1"
  int version_major = -1;
  int version_minor = -1;
  HeaderList headers;    // in arrival order; folded lines joined
  HeaderList cookies;    // every cookie of every Cookie header
  bool has_credentials = false;
  std::string auth_user;
  std::string auth_password;
  std::string body;      // body bytes (chunked bodies joined)
  bool has_body = false; // Content-Length or chunked framing was present
  bool form = false;     // media type application/x-www-form-urlencoded
  std::string form_text; // form body decoded to UTF-8 text
  HeaderList query_params;  // decoded query parameters
  HeaderList form_params;   // decoded form parameters
  // Filled by the connection.
  std::string peer_address;
  int local_port = 0;

  // Raw value of the first header of that name (ASCII case ignored), empty when absent.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

// Splits "a=1&b=2" into decoded name/value pairs ("+" as space, %XX escapes); the escaped
// bytes are text in `charset` (UTF-8 when none is named).
HeaderList DecodeUrlParams(std::string_view text, std::string_view charset = "UTF-8");

class HttpRequestReader {
 public:
  enum class Status {
    NeedMore,     // feed more bytes
    LengthCheck,  // headers without body framing: after a 1 ms wait, call FinishLengthCheck
    Complete,     // request() is ready
    Reject,       // answer reject_status() with an empty body, then close (503: no room for
                  // the body in the budget)
    Close,        // close the connection without a response
  };

  explicit HttpRequestReader(ReaderLimits limits = {});
  ~HttpRequestReader();   // gives back what the body took of the budget
  HttpRequestReader(const HttpRequestReader&) = delete;
  HttpRequestReader& operator=(const HttpRequestReader&) = delete;

  // Adds the bytes that arrived and reads as far as they allow.
  Status Feed(std::string_view bytes);
  // Result of the 1 ms check for bytes that arrived after a request without body framing.
  Status FinishLengthCheck(bool bytes_waiting);
  // An interim response ("HTTP/1.1 100 Continue" and an empty line) to write before reading
  // on; empty when none is due. Taking it clears it.
  std::string TakeInterim();

  Status status() const { return status_; }
  // Whether the request line and every header have arrived.
  bool HeadersComplete() const { return phase_ != Phase::RequestLine && phase_ != Phase::Headers; }
  int reject_status() const { return reject_status_; }
  ParsedRequest& request() { return request_; }
  // Bytes received but not consumed (after Complete: bytes beyond the request).
  std::size_t pending_bytes() const { return buffer_.size() - pos_; }

 private:
  enum class Phase { RequestLine, Headers, Body, ChunkSize, ChunkData, ChunkEnd, Trailers, LengthCheck, Done };

  // Takes one line (without CR LF). Returns false when more bytes are needed; sets status_
  // to Close when the line is too long.
  bool TakeLine(std::string_view& line);
  Status Advance();
  Status AfterHeaders();
  Status Finish();
  Status Fail(Status s, int code = 0);
  // Takes room for `bytes` more body bytes from the budget (true when there is no budget).
  bool TakeBudget(std::uint64_t bytes);

  ReaderLimits limits_;
  Phase phase_ = Phase::RequestLine;
  Status status_ = Status::NeedMore;
  int reject_status_ = 0;
  std::string buffer_;
  std::size_t pos_ = 0;
  std::size_t header_lines_ = 0;   // header, folded and trailer lines so far
  std::uint64_t remaining_ = 0;   // bytes left of the body or of the current chunk
  std::string interim_;
  std::uint64_t taken_small_ = 0;   // taken from the budget, to give back
  std::uint64_t taken_large_ = 0;
  ParsedRequest request_;
};

}  // namespace orv::host
