// multipart/related bodies: their parameters, parts and the root part that holds the envelope.
#include "soap/mime_multipart.h"

#include <gtest/gtest.h>

namespace orv::soap {
namespace {

TEST(MimeMultipart, ParametersAndParts) {
  EXPECT_TRUE(IsMultipartRelated("MULTIPART/RELATED; boundary=x"));
  EXPECT_FALSE(IsMultipartRelated("multipart/related;boundary=x"));
  EXPECT_FALSE(IsMultipartRelated("multipart/related; type=\"text/xml\"; boundary=x"));
  EXPECT_EQ(ContentTypeParam("multipart/related; boundary=\"a;b\"; start=<r>", "boundary"), "a;b");
  EXPECT_EQ(ContentTypeParam("multipart/related; boundary=\"a;b\"; start=<r>", "START"), "<r>");
  EXPECT_EQ(ContentTypeParam("text/xml", "boundary"), "");

  const auto m = ParseMultipart("multipart/related; boundary=q",
                                "preamble\r\n--q  \r\nA: 1\r\n\r\nroot\r\nbody\r\n--q\r\n\r\n\r\n--q--");
  ASSERT_TRUE(m.has_value());
  EXPECT_EQ(m->root.Header("a"), "1");
  EXPECT_EQ(m->root.body, "root\r\nbody");
  ASSERT_EQ(m->attachments.size(), 1u);
  EXPECT_EQ(m->attachments[0].body, "");

  EXPECT_FALSE(ParseMultipart("multipart/related; boundary=q", "--q\r\nA: 1\r\n\r\nno end"));
  EXPECT_FALSE(ParseMultipart("multipart/related; boundary=q", "--q--"));
  EXPECT_FALSE(ParseMultipart("multipart/related; boundary=", "--\r\n\r\nx\r\n----"));
}

}  // namespace
}  // namespace orv::soap
