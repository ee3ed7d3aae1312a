// Fuzzes the request reader and the web request built from it: the same bytes fed whole and in
// small pieces must reach the same outcome and the same request, a complete request must respect
// the limits, and the web request's text must be UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/http_request.h"
#include "host/request_handler.h"
#include "util/text.h"

using orv::host::HttpRequestReader;
using orv::host::ReaderLimits;
using Status = HttpRequestReader::Status;

namespace {

struct Result {
  Status status;
  int code;
  std::string summary;
};

Result Run(std::string_view input, std::size_t step, const ReaderLimits& limits) {
  HttpRequestReader r(limits);
  std::size_t pos = 0;
  Status s = Status::NeedMore;
  while (s == Status::NeedMore && pos < input.size()) {
    const std::size_t n = step == 0 ? input.size() : std::min(step, input.size() - pos);
    s = r.Feed(input.substr(pos, n));
    pos += n;
    r.TakeInterim();
  }
  if (s == Status::LengthCheck) s = r.FinishLengthCheck(pos < input.size());
  Result out{s, r.reject_status(), {}};
  if (s == Status::Complete) {
    const auto& q = r.request();
    if (q.body.size() > limits.max_body) std::abort();
    if (!orv::util::IsValidUtf8(q.path)) std::abort();
    // The web request's text fields are UTF-8 whatever the bytes and character set sent.
    for (const std::string& f : {q.Content(), q.PathInfo(), q.Query(), q.RawPathInfo(),
                                 q.Method(), q.Host(), q.ContentType(), q.UserAgent(),
                                 q.AuthUserName()}) {
      if (!orv::util::IsValidUtf8(f)) std::abort();
    }
    const orv::host::TNameValueList fields = q.ContentFields();
    for (const auto& [n, v] : fields.Items()) {
      if (!orv::util::IsValidUtf8(n) || !orv::util::IsValidUtf8(v)) std::abort();
    }
    out.summary = q.method + '\n' + q.path + '\n' + q.query + '\n' + q.body + '\n' +
                  std::to_string(q.headers.size()) + '\n' + std::to_string(q.cookies.size()) +
                  '\n' + q.auth_user + '\n' + q.form_text;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t step = 1 + data[0] % 7;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  ReaderLimits limits;   // small limits so that the fuzzer reaches them
  limits.max_line = 256;
  limits.max_header_lines = 16;
  limits.max_body = 1024;
  const Result whole = Run(input, 0, limits);
  const Result pieces = Run(input, step, limits);
  // Expect is honoured only when no body byte has arrived, which depends on the pieces.
  if (!orv::util::AsciiIContains(input, "expect")) {
    if (whole.status != pieces.status || whole.code != pieces.code ||
        whole.summary != pieces.summary)
      std::abort();
  }
  return 0;
}
