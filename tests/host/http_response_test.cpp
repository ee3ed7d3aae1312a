// The response writer: the status line, the header lines' order and the body conversion.
#include "host/http_response.h"

#include <gtest/gtest.h>

#include "util/regional.h"

namespace orv::host {
namespace {

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

}  // namespace
}  // namespace orv::host
