// The HTTP layer's text rules: Content-Type rendering, dates, escapes, Base64.
#include "host/http_util.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orv::host
