// HTTP request reader.
#include "host/http_request.h"

#include <algorithm>

#include "host/http_util.h"
#include "util/text.h"

namespace orv::host {
namespace {

// "HTTP/1.1" -> 1, 1; anything else leaves -1.
void ParseVersion(std::string_view v, int& major, int& minor) {
  major = minor = -1;
  if (!util::AsciiIStartsWith(v, "HTTP/")) return;
  v.remove_prefix(5);
  const std::size_t dot = v.find('.');
  if (dot == std::string_view::npos) return;
  const std::int64_t ma = ParseDecimal(v.substr(0, dot));
  const std::int64_t mi = ParseDecimal(v.substr(dot + 1));
  if (ma < 0 || mi < 0 || ma > 1000 || mi > 1000) return;
  major = static_cast<int>(ma);
  minor = static_cast<int>(mi);
}

}  // namespace

HeaderList DecodeUrlParams(std::string_view text, std::string_view charset) {
  const std::string cs = charset.empty() ? std::string("UTF-8") : std::string(charset);
  auto decode = [&cs](std::string_view s) { return DecodeText(PercentDecodeBytes(s, true), cs); };
  HeaderList out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t amp = text.find('&', start);
    if (amp == std::string_view::npos) amp = text.size();
    const std::string_view piece = text.substr(start, amp - start);
    if (!piece.empty()) {
      const std::size_t eq = piece.find('=');
      if (eq == std::string_view::npos) {
        out.emplace_back(decode(piece), std::string());
      } else {
        out.emplace_back(decode(piece.substr(0, eq)), decode(piece.substr(eq + 1)));
      }
    }
    start = amp + 1;
  }
  return out;
}

bool RequestBudget::FitsLocked(std::uint64_t bytes, bool large) const {
  if (in_use_ + bytes > total_) return false;
  return !large || large_in_use_ + bytes <= large_total_;
}

bool RequestBudget::Fits(std::uint64_t bytes, bool large) const {
  std::lock_guard lock(mutex_);
  return FitsLocked(bytes, large);
}

bool RequestBudget::TryTake(std::uint64_t bytes, bool large) {
  std::lock_guard lock(mutex_);
  if (!FitsLocked(bytes, large)) return false;
  in_use_ += bytes;
  if (large) large_in_use_ += bytes;
  return true;
}

void RequestBudget::Give(std::uint64_t bytes, bool large) {
  std::lock_guard lock(mutex_);
  in_use_ -= std::min(bytes, in_use_);
  if (large) large_in_use_ -= std::min(bytes, large_in_use_);
}

std::uint64_t RequestBudget::InUse() const {
  std::lock_guard lock(mutex_);
  return in_use_;
}

HttpRequestReader::HttpRequestReader(ReaderLimits limits) : limits_(limits) {}

HttpRequestReader::~HttpRequestReader() {
  if (!limits_.budget) return;
  if (taken_small_ > 0) limits_.budget->Give(taken_small_, false);
  if (taken_large_ > 0) limits_.budget->Give(taken_large_, true);
}

bool HttpRequestReader::TakeBudget(std::uint64_t bytes) {
  if (!limits_.budget || bytes == 0) return true;
  if (!limits_.budget->TryTake(bytes, large_)) return false;
  (large_ ? taken_large_ : taken_small_) += bytes;
  return true;
}

bool HttpRequestReader::BodyFits(std::uint64_t bytes) {
  if (!limits_.budget) return true;
  large_ = large_ || announced_ > limits_.budget->SmallBody();
  // Bytes of the body that are already here were taken as they arrived.
  const std::uint64_t here = pending_bytes();
  return limits_.budget->Fits(bytes > here ? bytes - here : 0, large_);
}

bool HttpRequestReader::TakeRemaining() {
  const std::size_t avail = buffer_.size() - pos_;
  const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(avail, remaining_));
  AppendBody(take);
  remaining_ -= take;
  return remaining_ == 0;
}

void HttpRequestReader::AppendBody(std::size_t count) {
  std::string& body = request_.body;
  const std::size_t needed = body.size() + count;
  if (needed > body.capacity()) {
    // Doubling, but never past a Content-Length: a body held whole costs its own length, and an
    // announcement alone costs nothing. A chunked body's total is not known in advance.
    // Once the bytes that came pass the small size, the room goes to the bound in one step:
    // each doubling of a large body copied all of it on the event loop (32 MiB at the last
    // step: 20 to 50 ms in which no other connection was served). The room is address space
    // that the system gives page by page as the bytes are written, so memory still follows
    // the bytes.
    const std::uint64_t bound = request_.chunked ? limits_.max_body : announced_;
    const std::uint64_t small = limits_.budget ? limits_.budget->SmallBody() : kSmallBodyBytes;
    const std::uint64_t target =
        needed > small ? std::max<std::uint64_t>(needed, bound)
                       : std::max<std::uint64_t>(
                             needed, std::min<std::uint64_t>(bound, 2 * body.capacity()));
    // Into a new string: growing in place would round the room up to twice the old one.
    std::string grown;
    grown.reserve(static_cast<std::size_t>(target));
    grown.append(body);
    body.swap(grown);
  }
  body.append(buffer_, pos_, count);
  pos_ += count;
}

HttpRequestReader::Status HttpRequestReader::Fail(Status s, int code) {
  status_ = s;
  reject_status_ = code;
  phase_ = Phase::Done;
  return s;
}

std::string HttpRequestReader::TakeInterim() {
  std::string out;
  out.swap(interim_);
  return out;
}

HttpRequestReader::Status HttpRequestReader::Feed(std::string_view bytes) {
  if (status_ != Status::NeedMore) return status_;
  // Drop what was consumed before growing the buffer.
  if (pos_ > 0 && (pos_ == buffer_.size() || pos_ > 65536)) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  received_ += bytes.size();
  if (!TakeBudget(bytes.size())) return Fail(Status::Reject, 503);
  buffer_.append(bytes.data(), bytes.size());
  status_ = Advance();
  return status_;
}

bool HttpRequestReader::TakeLine(std::string_view& line) {
  const std::string_view rest = std::string_view(buffer_).substr(pos_);
  // Chunk-size lines and the line ends after chunks are body framing, not header bytes.
  const bool header = phase_ == Phase::RequestLine || phase_ == Phase::Headers ||
                      phase_ == Phase::Trailers;
  const std::size_t lf = rest.find('\n');
  if (lf == std::string_view::npos) {
    // A CR may still come before the LF: allow one character beyond the limit.
    if (rest.size() > limits_.max_line + 1 ||
        (header && header_bytes_ + rest.size() > limits_.max_header_bytes))
      Fail(Status::Close);
    return false;
  }
  std::size_t len = lf;
  if (len > 0 && rest[len - 1] == '\r') --len;
  if (len > limits_.max_line || (header && header_bytes_ + lf + 1 > limits_.max_header_bytes)) {
    Fail(Status::Close);
    return false;
  }
  if (header) header_bytes_ += lf + 1;
  line = rest.substr(0, len);
  pos_ += lf + 1;
  return true;
}

HttpRequestReader::Status HttpRequestReader::Advance() {
  for (;;) {
    switch (phase_) {
      case Phase::RequestLine: {
        std::string_view line;
        if (!TakeLine(line)) return status_;
        const std::size_t first = line.find(' ');
        if (first == std::string_view::npos) return Fail(Status::Close);
        const std::size_t last = line.rfind(' ');
        request_.method = util::AsciiUpper(line.substr(0, first));
        request_.version = std::string(line.substr(last + 1));
        request_.target = first < last ? std::string(line.substr(first + 1, last - first - 1))
                                       : std::string();
        ParseVersion(request_.version, request_.version_major, request_.version_minor);
        const std::size_t q = request_.target.find('?');
        request_.raw_path = request_.target.substr(0, q);
        if (q != std::string::npos) request_.query = request_.target.substr(q + 1);
        request_.path = request_.target == "*" ? std::string("*")
                                               : PercentDecode(request_.raw_path, false);
        phase_ = Phase::Headers;
        break;
      }
      case Phase::Headers: {
        std::string_view line;
        if (!TakeLine(line)) return status_;
        if (line.empty()) {
          const Status s = AfterHeaders();
          if (s != Status::NeedMore || phase_ == Phase::Done) return s;
          break;
        }
        if (++header_lines_ > limits_.max_header_lines) return Fail(Status::Close);
        if ((line.front() == ' ' || line.front() == '\t') && !request_.headers.empty()) {
          // A folded line continues the previous header's value.
          std::string& value = request_.headers.back().second;
          value += ' ';
          value += util::TrimBlanks(line);
          break;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
          request_.headers.emplace_back(std::string(util::TrimBlanks(line)), std::string());
        } else {
          request_.headers.emplace_back(std::string(util::TrimBlanks(line.substr(0, colon))),
                                        std::string(util::TrimBlanks(line.substr(colon + 1))));
        }
        break;
      }
      case Phase::Body:
        if (!TakeRemaining()) return Status::NeedMore;
        return Finish();
      case Phase::ChunkSize: {
        std::string_view line;
        if (!TakeLine(line)) return status_;
        const std::size_t semi = line.find(';');
        const std::string_view hex = util::TrimBlanks(line.substr(0, semi));
        if (hex.empty()) return Fail(Status::Reject, 400);
        std::uint64_t size = 0;
        for (char c : hex) {
          const int v = util::HexDigitValue(c);
          if (v < 0) return Fail(Status::Reject, 400);
          size = size * 16 + static_cast<std::uint64_t>(v);
          if (size > limits_.max_body) return Fail(Status::Reject, 413);
        }
        if (request_.body.size() + size > limits_.max_body) return Fail(Status::Reject, 413);
        announced_ = request_.body.size() + size;
        if (!BodyFits(size)) return Fail(Status::Reject, 503);
        if (size == 0) {
          phase_ = Phase::Trailers;
        } else {
          remaining_ = size;
          phase_ = Phase::ChunkData;
        }
        break;
      }
      case Phase::ChunkData: {
        if (!TakeRemaining()) return Status::NeedMore;
        phase_ = Phase::ChunkEnd;
        break;
      }
      case Phase::ChunkEnd: {
        // The line break after a chunk's data; anything on that line is ignored.
        std::string_view line;
        if (!TakeLine(line)) return status_;
        phase_ = Phase::ChunkSize;
        break;
      }
      case Phase::Trailers: {
        std::string_view line;
        if (!TakeLine(line)) return status_;
        if (line.empty()) return Finish();
        // Trailer fields are read and dropped; they count against the header line limit.
        if (++header_lines_ > limits_.max_header_lines) return Fail(Status::Close);
        break;
      }
      case Phase::LengthCheck:
        return Status::LengthCheck;
      case Phase::Done:
        return status_;
    }
  }
}

HttpRequestReader::Status HttpRequestReader::AfterHeaders() {
  TWebRequest& r = request_;
  const bool http11 = r.version_major > 1 || (r.version_major == 1 && r.version_minor >= 1);
  if (http11 && util::TrimBlanks(r.GetFieldByName("Host")).empty()) return Fail(Status::Reject, 400);

  // Expect is honoured only while no body byte has arrived; the interim answer goes out only
  // once the request is known not to be refused.
  const bool expect = r.HasField("Expect") && pending_bytes() == 0;
  if (expect && !util::AsciiIContains(r.GetFieldByName("Expect"), "100-continue")) {
    return Fail(Status::Reject, 417);
  }
  auto go_on = [&](Phase next) {
    if (expect) interim_ = r.version + " 100 " + "Continue" + "\r\n\r\n";
    phase_ = next;
    return next == Phase::LengthCheck ? Status::LengthCheck : Status::NeedMore;
  };

  const std::string te(util::TrimBlanks(r.GetFieldByName("Transfer-Encoding")));
  if (!te.empty() && !util::AsciiIEquals(te, "identity")) {
    if (!util::AsciiIEquals(te, "chunked")) return Fail(Status::Reject, 400);
    r.has_body = true;
    r.chunked = true;
    return go_on(Phase::ChunkSize);
  }
  if (r.HasField("Content-Length")) {
    // Every Content-Length header must agree and be a plain decimal number.
    std::int64_t length = -1;
    for (const auto& [n, v] : r.headers) {
      if (!util::AsciiIEquals(n, "Content-Length")) continue;
      const std::int64_t l = ParseDecimal(util::TrimBlanks(v));
      if (l < 0 || (length >= 0 && l != length)) {
        // Too many digits for a number is a body far over the cap.
        if (l < 0 && util::TrimBlanks(v).size() > 18 &&
            std::all_of(util::TrimBlanks(v).begin(), util::TrimBlanks(v).end(),
                        [](char c) { return c >= '0' && c <= '9'; }))
          return Fail(Status::Reject, 413);
        return Fail(Status::Reject, 400);
      }
      length = l;
    }
    if (static_cast<std::uint64_t>(length) > limits_.max_body) return Fail(Status::Reject, 413);
    announced_ = static_cast<std::uint64_t>(length);
    if (!BodyFits(announced_)) return Fail(Status::Reject, 503);
    r.has_body = true;
    remaining_ = announced_;
    // Small bodies get their room at once; larger ones grow as their bytes arrive.
    r.body.reserve(static_cast<std::size_t>(
        std::min<std::uint64_t>(announced_, limits_.budget ? limits_.budget->SmallBody()
                                                           : kSmallBodyBytes)));
    return go_on(Phase::Body);
  }
  // No body framing: bytes already here mean a body sent without a length.
  if (pending_bytes() > 0) return Fail(Status::Reject, 411);
  return go_on(Phase::LengthCheck);
}

HttpRequestReader::Status HttpRequestReader::FinishLengthCheck(bool bytes_waiting) {
  if (status_ != Status::LengthCheck) return status_;
  if (bytes_waiting) return Fail(Status::Reject, 411);
  return status_ = Finish();
}

HttpRequestReader::Status HttpRequestReader::Finish() {
  TWebRequest& r = request_;
  phase_ = Phase::Done;
  const ContentTypeParts ct = SplitContentType(r.GetFieldByName("Content-Type"));
  if (util::AsciiIEquals(ct.media_type, "application/x-www-form-urlencoded")) {
    r.form = true;
    r.form_text = DecodeText(r.body, ct.charset);
    r.form_params = DecodeUrlParams(r.body, ct.charset);
  }
  r.query_params = DecodeUrlParams(r.query);

  for (const auto& [n, v] : r.headers) {
    if (!util::AsciiIEquals(n, "Cookie")) continue;
    std::size_t start = 0;
    while (start <= v.size()) {
      std::size_t semi = v.find(';', start);
      if (semi == std::string::npos) semi = v.size();
      const std::string_view piece = util::TrimBlanks(std::string_view(v).substr(start, semi - start));
      if (!piece.empty()) {
        const std::size_t eq = piece.find('=');
        r.cookies.emplace_back(std::string(util::TrimBlanks(piece.substr(0, eq))),
                               eq == std::string_view::npos
                                   ? std::string()
                                   : std::string(util::TrimBlanks(piece.substr(eq + 1))));
      }
      start = semi + 1;
    }
  }

  if (r.HasField("Authorization")) {
    const std::string auth = r.GetFieldByName("Authorization");
    const std::string_view a = util::TrimBlanks(auth);
    const std::size_t sp = a.find(' ');
    if (!util::AsciiIEquals(a.substr(0, sp), "Basic")) return Fail(Status::Close);
    std::string decoded;
    if (sp != std::string_view::npos && !Base64Decode(util::TrimBlanks(a.substr(sp + 1)), decoded)) {
      return Fail(Status::Close);
    }
    const std::size_t colon = decoded.find(':');
    r.has_credentials = true;
    r.auth_user = decoded.substr(0, colon);
    if (colon != std::string::npos) r.auth_password = decoded.substr(colon + 1);
  }
  status_ = Status::Complete;
  return Status::Complete;
}

}  // namespace orv::host
