// HTTP request reader: turns the bytes of one connection into one web request, checking
// lines, headers, the Host rule, Expect, Content-Length, chunked bodies and limits. It knows no
// sockets: the connection feeds it whatever arrived, so tests and the fuzzer drive it directly.
//
// Thread safety: one reader per connection, used by one thread at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/http_limits.h"
#include "host/web.h"

namespace orv::host {

// The request bytes the process may hold at once (see kMaxBufferedRequestBytes): readers take
// room for their bytes as they arrive and give it all back when they end.
// Thread safety: any thread.
class RequestBudget {
 public:
  explicit RequestBudget(std::uint64_t total = kMaxBufferedRequestBytes,
                         std::uint64_t large_total = kMaxLargeBodiesBytes,
                         std::uint64_t small_body = kSmallBodyBytes)
      : total_(total), large_total_(large_total), small_body_(small_body) {}
  RequestBudget(const RequestBudget&) = delete;
  RequestBudget& operator=(const RequestBudget&) = delete;

  // Whether `bytes` more would fit now, counted as large or not (nothing is taken).
  bool Fits(std::uint64_t bytes, bool large) const;
  // Takes `bytes` more; false (nothing taken) when they do not fit.
  bool TryTake(std::uint64_t bytes, bool large);
  void Give(std::uint64_t bytes, bool large);
  std::uint64_t InUse() const;
  // Bodies longer than this are large.
  std::uint64_t SmallBody() const { return small_body_; }

 private:
  bool FitsLocked(std::uint64_t bytes, bool large) const;

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
  std::size_t max_header_bytes = kMaxHeaderBytes;   // request line and header lines together
  std::uint64_t max_body = kMaxBodyBytes;
  RequestBudget* budget = nullptr;   // none: bodies are limited only by max_body
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
                  // the request's bytes in the budget)
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
  // The request as read so far (whole after Complete); the connection adds its own fields.
  TWebRequest& request() { return request_; }
  // Bytes received but not consumed (after Complete: bytes beyond the request).
  std::size_t pending_bytes() const { return buffer_.size() - pos_; }
  // Every byte fed so far.
  std::uint64_t received_bytes() const { return received_; }

 private:
  enum class Phase { RequestLine, Headers, Body, ChunkSize, ChunkData, ChunkEnd, Trailers, LengthCheck, Done };

  // Takes one line (without CR LF). Returns false when more bytes are needed; sets status_
  // to Close when the line is too long.
  bool TakeLine(std::string_view& line);
  Status Advance();
  Status AfterHeaders();
  Status Finish();
  Status Fail(Status s, int code = 0);
  // Takes room for `bytes` that arrived from the budget (true when there is no budget).
  bool TakeBudget(std::uint64_t bytes);
  // Whether `bytes` more body bytes would fit in the budget now.
  bool BodyFits(std::uint64_t bytes);
  // Appends body bytes, growing the body by doubling up to its announced length at most.
  void AppendBody(std::size_t count);
  // Appends what has arrived of the body or the current chunk; true once all of it has.
  bool TakeRemaining();

  ReaderLimits limits_;
  Phase phase_ = Phase::RequestLine;
  Status status_ = Status::NeedMore;
  int reject_status_ = 0;
  std::string buffer_;
  std::size_t pos_ = 0;
  std::size_t header_lines_ = 0;   // header, folded and trailer lines so far
  std::size_t header_bytes_ = 0;   // bytes of the request line and those lines so far
  std::uint64_t received_ = 0;
  std::uint64_t announced_ = 0;    // Content-Length, or the chunks announced so far
  bool large_ = false;             // the body is past the budget's small size
  std::uint64_t remaining_ = 0;   // bytes left of the body or of the current chunk
  std::string interim_;
  std::uint64_t taken_small_ = 0;   // taken from the budget, to give back
  std::uint64_t taken_large_ = 0;
  TWebRequest request_;
};

}  // namespace orv::host
