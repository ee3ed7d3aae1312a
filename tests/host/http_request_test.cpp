// The request reader on byte streams: each case is fed whole and byte by byte, and both ways
// must reach the same outcome.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/http_request.h"

namespace orv::host {
namespace {

using Status = HttpRequestReader::Status;

struct Outcome {
  Status status;
  int code = 0;
  std::string interim;
};

// Feeds the input in pieces of `step` bytes (0: whole). A length check answers "bytes waiting"
// when input is left.
Outcome Read(const std::string& input, std::size_t step, TWebRequest* out = nullptr,
             ReaderLimits limits = {}) {
  HttpRequestReader r(limits);
  Outcome o{Status::NeedMore};
  std::size_t pos = 0;
  Status s = Status::NeedMore;
  while (s == Status::NeedMore && pos < input.size()) {
    const std::size_t n = step == 0 ? input.size() : std::min(step, input.size() - pos);
    s = r.Feed(std::string_view(input).substr(pos, n));
    pos += n;
    o.interim += r.TakeInterim();
  }
  if (s == Status::LengthCheck) s = r.FinishLengthCheck(pos < input.size());
  o.status = s;
  o.code = r.reject_status();
  if (out) *out = r.request();
  return o;
}

struct Case {
  const char* name;
  std::string input;
  Status status;
  int code;
};

const std::string kLong(17000, 'a');

TEST(HttpRequestReader, OutcomesWholeAndByteByByte) {
  const Case cases[] = {
      {"plain get", "GET / HTTP/1.1\r\nHost: h\r\n\r\n", Status::Complete, 0},
      {"bare LF lines", "GET / HTTP/1.1\nHost: h\n\n", Status::Complete, 0},
      {"no space closes", "GARBAGE\r\n\r\n", Status::Close, 0},
      {"1.1 without Host", "GET / HTTP/1.1\r\n\r\n", Status::Reject, 400},
      {"1.1 empty Host", "GET / HTTP/1.1\r\nHost:  \r\n\r\n", Status::Reject, 400},
      {"1.0 without Host", "GET / HTTP/1.0\r\n\r\n", Status::Complete, 0},
      {"2.0 without Host", "GET / HTTP/2.0\r\n\r\n", Status::Reject, 400},
      {"content length", "POST /s HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc",
       Status::Complete, 0},
      {"content length short", "POST /s HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n\r\nabc",
       Status::NeedMore, 0},
      {"content length invalid", "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 1x\r\n\r\n",
       Status::Reject, 400},
      {"content lengths differ",
       "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
       Status::Reject, 400},
      {"body over the cap", "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 67108865\r\n\r\n",
       Status::Reject, 413},
      {"absurd length", "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 99999999999999999999\r\n\r\n",
       Status::Reject, 413},
      {"body without length", "POST / HTTP/1.1\r\nHost: h\r\n\r\nabc", Status::Reject, 411},
      {"unknown transfer encoding",
       "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: gzip\r\n\r\n", Status::Reject, 400},
      {"identity encoding",
       "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: identity\r\nContent-Length: 1\r\n\r\nx",
       Status::Complete, 0},
      {"chunked", "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
                  "3;ext=1\r\nabc\r\n2\r\nde\r\n0\r\nX-T: 1\r\n\r\n",
       Status::Complete, 0},
      {"chunk size not hex", "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
                             "zz\r\n",
       Status::Reject, 400},
      {"chunks over the cap", "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
                              "4000001\r\n",
       Status::Reject, 413},
      {"expect other", "POST / HTTP/1.1\r\nHost: h\r\nExpect: magic\r\nContent-Length: 0\r\n\r\n",
       Status::Reject, 417},
      {"request line 17000", "GET /" + kLong + " HTTP/1.1\r\nHost: h\r\n\r\n", Status::Close, 0},
      {"header line too long", "GET / HTTP/1.1\r\nHost: h\r\nX: " + kLong + "\r\n\r\n",
       Status::Close, 0},
      {"basic wrong scheme", "GET / HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer abc\r\n\r\n",
       Status::Close, 0},
      {"basic bad base64", "GET / HTTP/1.1\r\nHost: h\r\nAuthorization: Basic ***\r\n\r\n",
       Status::Close, 0},
  };
  for (const Case& c : cases) {
    for (std::size_t step : {std::size_t{0}, std::size_t{1}}) {
      const Outcome o = Read(c.input, step);
      EXPECT_EQ(o.status, c.status) << c.name << " step " << step;
      EXPECT_EQ(o.code, c.code) << c.name << " step " << step;
    }
  }
}

TEST(HttpRequestReader, RequestLineAndTarget) {
  TWebRequest r;
  ASSERT_EQ(Read("get /a%20b/%C3%A9?x=1%20&y HTTP/1.1\r\nHost: h\r\n\r\n", 0, &r).status,
            Status::Complete);
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.raw_path, "/a%20b/%C3%A9");
  EXPECT_EQ(r.path, "/a b/\xC3\xA9");
  EXPECT_EQ(r.query, "x=1%20&y");
  EXPECT_EQ(r.version, "HTTP/1.1");
  EXPECT_EQ(r.version_major, 1);
  EXPECT_EQ(r.version_minor, 1);
  ASSERT_EQ(r.query_params.size(), 2u);
  EXPECT_EQ(r.query_params[0], (std::pair<std::string, std::string>("x", "1 ")));

  ASSERT_EQ(Read("OPTIONS * HTTP/1.1\r\nHost: h\r\n\r\n", 0, &r).status, Status::Complete);
  EXPECT_EQ(r.path, "*");
  // Invalid UTF-8 from an escape becomes U+FFFD instead of passing on broken text.
  ASSERT_EQ(Read("GET /%FF HTTP/1.0\r\n\r\n", 0, &r).status, Status::Complete);
  EXPECT_EQ(r.path, "/\xEF\xBF\xBD");
}

TEST(HttpRequestReader, ExpectContinueOnlyBeforeBodyBytes) {
  const std::string head =
      "POST / HTTP/1.1\r\nHost: h\r\nExpect: 100-Continue\r\nContent-Length: 2\r\n\r\n";
  // Headers alone: the interim answer is due, then the body is read.
  HttpRequestReader r;
  EXPECT_EQ(r.Feed(head), Status::NeedMore);
  EXPECT_EQ(r.TakeInterim(), "HTTP/1.1 100 Continue\r\n\r\n");
  EXPECT_EQ(r.TakeInterim(), "");
  EXPECT_EQ(r.Feed("ok"), Status::Complete);
  EXPECT_EQ(r.request().body, "ok");
  // Body bytes already there: no interim answer, and an unknown expectation is not checked.
  EXPECT_EQ(Read(head + "ok", 0).interim, "");
  EXPECT_EQ(Read("POST / HTTP/1.1\r\nHost: h\r\nExpect: magic\r\nContent-Length: 2\r\n\r\nok", 0)
                .status,
            Status::Complete);
}

TEST(HttpRequestReader, BodyFramings) {
  TWebRequest r;
  ASSERT_EQ(Read("POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: Chunked\r\n\r\n"
                 "3\r\nabc\r\nA\r\n0123456789\r\n0\r\nTrailer: x\r\n\r\n",
                 1, &r)
                .status,
            Status::Complete);
  EXPECT_EQ(r.body, "abc0123456789");
  EXPECT_EQ(r.GetFieldByName("Trailer"), "");   // trailers are not headers

  // Headers only, then a byte within the check: 411; none: complete without body.
  HttpRequestReader late;
  EXPECT_EQ(late.Feed("PUT / HTTP/1.1\r\nHost: h\r\n\r\n"), Status::LengthCheck);
  EXPECT_EQ(late.FinishLengthCheck(true), Status::Reject);
  EXPECT_EQ(late.reject_status(), 411);
  HttpRequestReader none;
  EXPECT_EQ(none.Feed("GET / HTTP/1.1\r\nHost: h\r\n\r\n"), Status::LengthCheck);
  EXPECT_EQ(none.FinishLengthCheck(false), Status::Complete);
  EXPECT_FALSE(none.request().has_body);
}

TEST(HttpRequestReader, LineAndHeaderLimitsAtTheirEdges) {
  ReaderLimits limits;
  const std::string at_limit = "GET /" + std::string(limits.max_line - 14, 'a') + " HTTP/1.1";
  ASSERT_EQ(at_limit.size(), limits.max_line);
  EXPECT_EQ(Read(at_limit + "\r\nHost: h\r\n\r\n", 0).status, Status::Complete);
  EXPECT_EQ(Read(at_limit + "a\r\nHost: h\r\n\r\n", 0).status, Status::Close);
  // A long line without its end closes without waiting for the rest.
  HttpRequestReader r;
  EXPECT_EQ(r.Feed("GET /" + kLong), Status::Close);

  std::string headers;
  for (std::size_t i = 0; i < limits.max_header_lines - 1; ++i) headers += "X-N: 1\r\n";
  EXPECT_EQ(Read("GET / HTTP/1.1\r\nHost: h\r\n" + headers + "\r\n", 0).status,
            Status::Complete);
  EXPECT_EQ(Read("GET / HTTP/1.1\r\nHost: h\r\nX: 1\r\n" + headers + "\r\n", 0).status,
            Status::Close);
}

TEST(HttpRequestReader, HeadersCookiesCredentialsAndForms) {
  TWebRequest r;
  const std::string form = "n=Jo%E3o+Silva&e=%E9&c=\xE7";
  ASSERT_EQ(Read("POST /f HTTP/1.1\r\nhost: h:8080\r\nX-Long: a\r\n  b\r\n"
                 "Cookie: a=1; b=2\r\nCookie: c=\r\n"
                 "Authorization: basic dXNlcjpwYTpzcw==\r\n"
                 "Content-Type: application/x-www-form-urlencoded; charset=ISO-8859-1\r\n"
                 "Content-Length: " + std::to_string(form.size()) + "\r\n\r\n" + form,
                 0, &r)
                .status,
            Status::Complete);
  EXPECT_EQ(r.GetFieldByName("HOST"), "h:8080");
  EXPECT_EQ(r.GetFieldByName("x-long"), "a b");
  ASSERT_EQ(r.cookies.size(), 3u);
  EXPECT_EQ(r.cookies[1].first, "b");
  EXPECT_EQ(r.cookies[2].second, "");
  EXPECT_TRUE(r.has_credentials);
  EXPECT_EQ(r.auth_user, "user");
  EXPECT_EQ(r.auth_password, "pa:ss");
  EXPECT_TRUE(r.form);
  // The form is text in its own character set, escapes included.
  EXPECT_EQ(r.form_text, "n=Jo%E3o+Silva&e=%E9&c=\xC3\xA7");
  ASSERT_EQ(r.form_params.size(), 3u);
  EXPECT_EQ(r.form_params[0].second, "Jo\xC3\xA3o Silva");
  EXPECT_EQ(r.form_params[1].second, "\xC3\xA9");
  EXPECT_EQ(r.form_params[2].second, "\xC3\xA7");
}

// Request bytes held at once: each reader takes room for its bytes as they arrive, whatever
// it announces, and gives it back when it ends. An announced body that cannot fit in what is
// free is refused at once (before any interim answer); bytes that do not fit when they arrive
// end the request with 503. Bodies past the small size share a smaller part. Budget: 1000
// bytes in all, 600 for large bodies, small up to 100.
TEST(RequestBudget, ReadersHoldWhatArrivedNotWhatTheyAnnounce) {
  RequestBudget budget(1000, 600, 100);
  ReaderLimits limits;
  limits.budget = &budget;
  auto post = [](int length, const char* extra = "") {
    return "POST / HTTP/1.1\r\nHost: h\r\n" + std::string(extra) +
           "Content-Length: " + std::to_string(length) + "\r\n\r\n";
  };
  const std::size_t head = post(500).size();
  // Announcing 500 and sending 3 costs the bytes sent, so others announcing as much still fit.
  std::vector<std::unique_ptr<HttpRequestReader>> holders;
  for (int i = 0; i < 4; ++i) {
    holders.push_back(std::make_unique<HttpRequestReader>(limits));
    EXPECT_EQ(holders.back()->Feed(post(500) + "abc"), Status::NeedMore) << i;
  }
  EXPECT_EQ(budget.InUse(), 4 * (head + 3));
  // A large body that cannot fit in the large share is refused at once, without 100 Continue.
  {
    HttpRequestReader r(limits);
    EXPECT_EQ(r.Feed(post(700, "Expect: 100-continue\r\n")), Status::Reject);
    EXPECT_EQ(r.reject_status(), 503);
    EXPECT_EQ(r.TakeInterim(), "");
  }
  // Bytes that no longer fit when they arrive (another large body took the room): 503.
  HttpRequestReader big(limits);
  HttpRequestReader other(limits);
  EXPECT_EQ(big.Feed(post(500)), Status::NeedMore);
  EXPECT_EQ(big.Feed(std::string(300, 'x')), Status::NeedMore);   // large: 300 of 600
  EXPECT_EQ(other.Feed(post(290)), Status::NeedMore);              // 590 would fit
  EXPECT_EQ(other.Feed(std::string(250, 'y')), Status::NeedMore);  // large: 550
  EXPECT_EQ(big.Feed(std::string(200, 'x')), Status::Reject);
  EXPECT_EQ(big.reject_status(), 503);
  // Small bodies still fit beside them, in the rest of the budget.
  HttpRequestReader small(limits);
  EXPECT_EQ(small.Feed(post(10) + "0123456789"), Status::Complete);
  const std::uint64_t before = budget.InUse();
  holders.clear();
  EXPECT_EQ(budget.InUse(), before - 4 * (head + 3));
  // A chunked body takes room as its bytes arrive too, as large once past the small size.
  HttpRequestReader chunked(limits);
  EXPECT_EQ(chunked.Feed("POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
                         "258\r\n"),   // 600 announced: more than the large share has free
            Status::Reject);
  EXPECT_EQ(chunked.reject_status(), 503);
}

// Refused requests get no interim answer: the client would send a body only to have it dropped.
TEST(HttpRequestReader, NoContinueForARefusedRequest) {
  const std::string expect = "Expect: 100-continue\r\n";
  const struct {
    const char* name;
    std::string input;
    Status status;
  } cases[] = {
      {"accepted", "POST / HTTP/1.1\r\nHost: h\r\n" + expect + "Content-Length: 2\r\n\r\n",
       Status::NeedMore},
      {"over the cap", "POST / HTTP/1.1\r\nHost: h\r\n" + expect +
                           "Content-Length: 67108865\r\n\r\n",
       Status::Reject},
      {"bad length", "POST / HTTP/1.1\r\nHost: h\r\n" + expect + "Content-Length: x\r\n\r\n",
       Status::Reject},
      {"bad encoding", "POST / HTTP/1.1\r\nHost: h\r\n" + expect +
                           "Transfer-Encoding: gzip\r\n\r\n",
       Status::Reject},
  };
  for (const auto& c : cases) {
    HttpRequestReader r;
    EXPECT_EQ(r.Feed(c.input), c.status) << c.name;
    EXPECT_EQ(r.TakeInterim().empty(), c.status == Status::Reject) << c.name;
  }
}

// The line and headers together are bounded, whatever their count and lengths.
TEST(HttpRequestReader, HeaderBytesAreBoundedInAll) {
  ReaderLimits limits;
  const std::string line = "X-F: " + std::string(limits.max_line - 5, 'f') + "\r\n";
  std::string head = "GET / HTTP/1.1\r\nHost: h\r\n";
  std::string under = head;
  while (under.size() + line.size() + 2 <= limits.max_header_bytes) under += line;
  EXPECT_EQ(Read(under + "\r\n", 0).status, Status::Complete);
  EXPECT_EQ(Read(under + line + "\r\n", 0).status, Status::Close);
  // Cut as soon as the total is past, not when the line ends.
  HttpRequestReader r;
  EXPECT_EQ(r.Feed(under + line.substr(0, line.size() / 2)), Status::NeedMore);
  EXPECT_EQ(r.Feed(line.substr(line.size() / 2, line.size() / 2 - 10)), Status::Close);
}

// A body grows as its bytes arrive, never past what was announced; once past the small size
// it is not moved again (each move copied all of it on the event loop).
TEST(HttpRequestReader, BodyRoomFollowsTheBytes) {
  HttpRequestReader r;
  ASSERT_EQ(r.Feed("POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 3000000\r\n\r\n"),
            Status::NeedMore);
  EXPECT_LE(r.request().body.capacity(), kSmallBodyBytes + 64);
  const std::string piece(100000, 'p');
  Status s = Status::NeedMore;
  const char* room = nullptr;
  for (int i = 0; i < 30; ++i) {
    s = r.Feed(piece);
    if (r.request().body.size() > kSmallBodyBytes && !room) room = r.request().body.data();
  }
  ASSERT_EQ(s, Status::Complete);
  EXPECT_EQ(r.request().body.data(), room);
  EXPECT_EQ(r.request().body.size(), 3000000u);
  EXPECT_LE(r.request().body.capacity(), 3000000u + 64);
}

}  // namespace
}  // namespace orv::host
