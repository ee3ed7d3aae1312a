// HTTP text rules: Content-Type rendering, dates, escapes, Base64, the response header's
// order and body conversion, and the web response's own behaviour.
#include <gtest/gtest.h>

#include "host/http_response.h"
#include "host/http_util.h"
#include "host/web.h"
#include "util/regional.h"

namespace orv::host {
namespace {

TEST(HttpText, ContentTypeCharsetRules) {
  const struct {
    const char* set;
    const char* sent;
  } cases[] = {
      {"text/html", "text/html; charset=ISO-8859-1"},
      {"text/xml", "text/xml; charset=us-ascii"},
      {"text/xml; charset=\"utf-8\"", "text/xml; charset=utf-8"},
      {"TEXT/XML;charset=UTF-8", "TEXT/XML; charset=UTF-8"},
      {"image/svg+xml", "image/svg+xml"},
      {"text/vnd.x+xml", "text/vnd.x+xml; charset=us-ascii"},
      {"application/octet-stream", "application/octet-stream"},
      {"text/plain; format=flowed", "text/plain; format=flowed; charset=ISO-8859-1"},
      {"text/plain; charset=\"we ird\"", "text/plain; charset=\"we ird\""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(RenderContentType(c.set), c.sent) << c.set;
}

TEST(HttpText, DatesEscapesAndBase64) {
  // 6 Nov 1994 08:49:37 is day 34644 of the date-time scale.
  const double expected = 34644 + (8 * 3600 + 49 * 60 + 37) / 86400.0;
  for (const char* form : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                           "Sun Nov  6 08:49:37 1994"}) {
    EXPECT_NEAR(ParseHttpDate(form), expected, 1e-9) << form;
  }
  for (const char* bad : {"", "yesterday", "Sun, 31 Feb 1994 08:49:37 GMT",
                          "Sun, 06 Nov 1994 25:49:37 GMT", "06 Nov 1994"}) {
    EXPECT_EQ(ParseHttpDate(bad), -1) << bad;
  }
  EXPECT_EQ(FormatHttpDate(expected), "Sun, 06 Nov 1994 08:49:37 GMT");

  EXPECT_EQ(PercentDecode("a%2fb+c%zz%4", true), "a/b c%zz%4");
  EXPECT_EQ(PercentDecode("a+b", false), "a+b");
  std::string out;
  EXPECT_TRUE(Base64Decode("dXNlcjpwYXNz", out));
  EXPECT_EQ(out, "user:pass");
  EXPECT_TRUE(Base64Decode("YQ==", out));
  EXPECT_EQ(out, "a");
  EXPECT_FALSE(Base64Decode("YQ==YQ", out));
  EXPECT_FALSE(Base64Decode("a b", out));
  EXPECT_EQ(ParseDecimal("0042"), 42);
  EXPECT_EQ(ParseDecimal("-1"), -1);
  EXPECT_EQ(ParseDecimal(""), -1);
}

TEST(HttpResponseWriter, HeaderOrderAndStatusLine) {
  TWebResponse r;
  r.SetStatusCode(302);
  r.Location = "/x";
  r.Server = "S";
  r.Allow = "GET";
  r.CustomHeaders.Add("X-Split", "a\r\nInjected: 1");
  TCookie a, b;
  a.Name = "a";
  a.Value = "1";
  b.Name = "b";
  b.Value = "2";
  r.Cookies = {a, b};
  r.Date = 34644.5;
  r.CacheControl = "no-cache";
  r.ContentEncoding = "gzip";
  r.WWWAuthenticate = "Basic realm=\"r\"";
  r.SetContent("abc");
  const std::string body = r.BodyBytes();
  EXPECT_EQ(RenderHeader(r, body.size()),
            "HTTP/1.1 302 Moved Temporarily\r\n"
            "Connection: close\r\n"
            "Content-Encoding: gzip\r\n"
            "Content-Type: text/html; charset=ISO-8859-1\r\n"
            "Content-Length: 3\r\n"
            "Cache-control: no-cache\r\n"
            "Date: Sun, 06 Nov 1994 12:00:00 GMT\r\n"
            "Allow: GET\r\n"
            "X-Split: a  Injected: 1\r\n"
            "Server: S\r\n"
            "Location: /x\r\n"
            "WWW-Authenticate: Basic realm=\"r\"\r\n"
            "Set-Cookie: a=1\r\n"
            "Set-Cookie: b=2\r\n"
            "\r\n");
  EXPECT_EQ(RenderHeader(TWebResponse::Error(417), 0),
            "HTTP/1.1 417 Expectation Failed\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
  // The whole answer: the header for the body that goes out, then the body, moved out.
  EXPECT_EQ(RenderResponse(r), RenderHeader(r, 3) + "abc");
  EXPECT_FALSE(r.HasBody());
}

TEST(HttpResponseWriter, RealmCustomHeadersAndCookies) {
  TWebResponse w;
  w.Realm = "OrvWs";
  w.Allow = "GET, POST";
  w.Title = "T";
  w.CustomHeaders.Add("X-A", "1");
  TCookie c;
  c.Name = "id";
  c.Value = "9";
  c.Path = "/";
  w.Cookies.push_back(c);
  w.Date = 34644.5;
  w.ContentType = "text/xml; charset=\"utf-8\"";
  w.SetContent("<a/>");
  EXPECT_EQ(RenderResponse(w),
            "HTTP/1.1 401 Unauthorized\r\nConnection: close\r\n"
            "Content-Type: text/xml; charset=utf-8\r\nContent-Length: 4\r\n"
            "Date: Sun, 06 Nov 1994 12:00:00 GMT\r\n"
            "Allow: GET, POST\r\nTitle: T\r\nX-A: 1\r\n"
            "WWW-Authenticate: Basic realm=\"OrvWs\"\r\nSet-Cookie: id=9; path=/\r\n\r\n<a/>");
}

TEST(HttpResponseWriter, BodyTextConversionFollowsTheContentType) {
  util::SetRegional(util::RegionalPtBR());   // ANSI code page WINDOWS-1252
  TWebResponse r;
  r.SetContent("a\xC3\xA7\xC3\xA3o");   // "ação"
  r.ContentType = "text/xml; charset=\"utf-8\"";
  EXPECT_EQ(r.BodyBytes(), "a\xC3\xA7\xC3\xA3o");
  r.ContentType = "text/html";
  EXPECT_EQ(r.BodyBytes(), "a\xE7\xE3o");
  // A stream goes out unchanged.
  r.SetContentStream(std::string("\x00\xFF", 2));
  EXPECT_EQ(r.BodyBytes(), std::string("\x00\xFF", 2));
  util::SetRegional(util::RegionalC());
}

TEST(WebResponse, StatusSendingAndLength) {
  int sends = 0;
  TWebResponse r("HTTP/1.0", [&] { ++sends; });
  EXPECT_EQ(r.StatusCode(), 200);
  EXPECT_EQ(r.ReasonString, "OK");
  EXPECT_EQ(r.ContentType, "text/html");
  EXPECT_EQ(r.Version(), "HTTP/1.0");
  r.SetStatusCode(414);
  EXPECT_EQ(r.ReasonString, "Request-URI Too Long. 256 Chars max");
  r.SetStatusCode(299);
  EXPECT_EQ(r.ReasonString, "Unknown Response Code");
  r.ContentType = "text/plain; charset=utf-8";
  r.SetContent("\xC3\xA9");
  EXPECT_EQ(r.ContentLength(), 2);
  r.SetContentStream("12345");
  EXPECT_EQ(r.Content(), "");
  EXPECT_EQ(r.ContentLength(), 5);
  EXPECT_FALSE(r.Sent());
  r.SendRedirect("/there");
  r.SendResponse();
  EXPECT_EQ(sends, 1);
  EXPECT_TRUE(r.Sent());
  EXPECT_EQ(r.StatusCode(), 302);
  EXPECT_EQ(r.Location, "/there");
}

TEST(WebRequest, FieldLookupIgnoresCase) {
  TWebRequest r;
  r.headers = {{"Content-Type", "text/xml"}, {"X-Num", "12"}, {"X-Bad", "1a"},
               {"If-Modified-Since", "Sun, 06 Nov 1994 08:49:37 GMT"}};
  EXPECT_EQ(r.GetFieldByName("content-TYPE"), "text/xml");
  EXPECT_TRUE(r.HasField("x-num"));
  EXPECT_EQ(r.GetFieldByName("missing"), "");
  EXPECT_EQ(r.GetIntegerField("X-NUM"), 12);
  EXPECT_EQ(r.GetIntegerField("x-bad"), -1);
  EXPECT_GT(r.GetDateField("if-modified-since"), 34644);
  EXPECT_EQ(r.GetDateField("x-num"), -1);
  TNameValueList l;
  l.Add("A", "1");
  l.SetValue("a", "2");
  EXPECT_EQ(l.Count(), 1u);
  EXPECT_EQ(l.Values("A"), "2");
}

}  // namespace
}  // namespace orv::host
