// The PROXY header reader on whole headers and on every prefix of them: a prefix of a header
// that will be whole waits for more, and once a header is found invalid, more bytes do not
// make it valid.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/http_limits.h"
#include "host/proxy_protocol.h"

namespace orv::host {
namespace {

using Status = ProxyHeader::Status;

const std::string kSignature{"\r\n\r\n\0\r\nQUIT\n", 12};

// A version 2 header: version and command, family and transport, then `rest` with its length.
std::string V2(unsigned char version_command, unsigned char family_transport, const std::string& rest,
               std::size_t length_override = std::string::npos) {
  const std::size_t n = length_override == std::string::npos ? rest.size() : length_override;
  std::string h = kSignature;
  h += static_cast<char>(version_command);
  h += static_cast<char>(family_transport);
  h += static_cast<char>((n >> 8) & 0xFF);
  h += static_cast<char>(n & 0xFF);
  return h + rest;
}

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s += static_cast<char>(b);
  return s;
}

// 10.0.0.7:40000 -> 10.0.0.1:8791
const std::string kInet4 = Bytes({10, 0, 0, 7, 10, 0, 0, 1, 0x9C, 0x40, 0x22, 0x57});
// 2001:db8::5:40000 -> 2001:db8::1:8791
const std::string kInet6 = Bytes({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5,
                                  0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1,
                                  0x9C, 0x40, 0x22, 0x57});
// ::ffff:192.0.2.9:1 -> ::ffff:192.0.2.1:2
const std::string kInet6Mapped = Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 0, 2, 9,
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 0, 2, 1,
                                        0, 1, 0, 2});
// A TLV of type 0x05 (unique id) with 17 bytes, as HAProxy adds with unique-id.
const std::string kTlv = Bytes({0x05, 0x00, 0x11}) + std::string(17, 'u');

struct Case {
  const char* name;
  std::string header;       // the header's bytes (for a Done case, exactly the header)
  Status status;            // on the whole input
  std::optional<std::string> source = std::nullopt;
  int port = 0;
};

const std::string kAfter = "GET / HTTP/1.1\r\nHost: h\r\n\r\n";

std::vector<Case> Cases() {
  const std::string longest_unknown = "PROXY UNKNOWN " + std::string(kProxyV1MaxLine - 16, 'x') + "\r\n";
  return {
      // Version 1.
      {"v1 tcp4", "PROXY TCP4 192.168.0.10 10.0.0.1 56324 8791\r\n", Status::Done, "192.168.0.10", 56324},
      {"v1 tcp6", "PROXY TCP6 2001:db8::5 2001:db8::1 40000 443\r\n", Status::Done, "2001:db8::5", 40000},
      {"v1 tcp6 mapped ipv4", "PROXY TCP6 ::ffff:10.1.2.3 ::1 1 2\r\n", Status::Done, "10.1.2.3", 1},
      {"v1 port 0 and 65535", "PROXY TCP4 1.2.3.4 5.6.7.8 0 65535\r\n", Status::Done, "1.2.3.4", 0},
      {"v1 unknown", "PROXY UNKNOWN\r\n", Status::Done},
      {"v1 unknown with addresses", "PROXY UNKNOWN ffff::1 ffff::2 1 2\r\n", Status::Done},
      {"v1 unknown at the length bound", longest_unknown, Status::Done},
      {"v1 one byte past the bound", "PROXY UNKNOWN " + std::string(kProxyV1MaxLine - 15, 'x') + "\r\n",
       Status::Invalid},
      {"v1 bare LF", "PROXY TCP4 1.2.3.4 5.6.7.8 1 2\n", Status::Invalid},
      {"v1 CR without LF", "PROXY TCP4 1.2.3.4 5.6.7.8 1 2\rX", Status::Invalid},
      {"v1 double space", "PROXY TCP4  1.2.3.4 5.6.7.8 1 2\r\n", Status::Invalid},
      {"v1 trailing space", "PROXY TCP4 1.2.3.4 5.6.7.8 1 2 \r\n", Status::Invalid},
      {"v1 missing port", "PROXY TCP4 1.2.3.4 5.6.7.8 1\r\n", Status::Invalid},
      {"v1 extra field", "PROXY TCP4 1.2.3.4 5.6.7.8 1 2 3\r\n", Status::Invalid},
      {"v1 unknown family", "PROXY TCP5 1.2.3.4 5.6.7.8 1 2\r\n", Status::Invalid},
      {"v1 lower-case family", "PROXY tcp4 1.2.3.4 5.6.7.8 1 2\r\n", Status::Invalid},
      {"v1 tcp4 with ipv6", "PROXY TCP4 ::1 ::1 1 2\r\n", Status::Invalid},
      {"v1 tcp6 with ipv4", "PROXY TCP6 1.2.3.4 5.6.7.8 1 2\r\n", Status::Invalid},
      {"v1 bad destination", "PROXY TCP4 1.2.3.4 5.6.7 1 2\r\n", Status::Invalid},
      {"v1 scope id", "PROXY TCP6 fe80::1%eth0 fe80::2 1 2\r\n", Status::Invalid},
      {"v1 port too big", "PROXY TCP4 1.2.3.4 5.6.7.8 65536 2\r\n", Status::Invalid},
      {"v1 port leading zero", "PROXY TCP4 1.2.3.4 5.6.7.8 080 2\r\n", Status::Invalid},
      {"v1 port sign", "PROXY TCP4 1.2.3.4 5.6.7.8 +80 2\r\n", Status::Invalid},
      {"v1 no end within the bound", "PROXY TCP4 " + std::string(200, '1'), Status::Invalid},
      // Version 2.
      {"v2 proxy ipv4", V2(0x21, 0x11, kInet4), Status::Done, "10.0.0.7", 40000},
      {"v2 proxy ipv6", V2(0x21, 0x21, kInet6), Status::Done, "2001:db8::5", 40000},
      {"v2 proxy ipv6 mapped ipv4", V2(0x21, 0x21, kInet6Mapped), Status::Done, "192.0.2.9", 1},
      {"v2 tlvs after the addresses", V2(0x21, 0x11, kInet4 + kTlv), Status::Done, "10.0.0.7", 40000},
      {"v2 transport unspecified", V2(0x21, 0x10, kInet4), Status::Done, "10.0.0.7", 40000},
      {"v2 local, no addresses", V2(0x20, 0x00, ""), Status::Done},
      {"v2 local with addresses ignored", V2(0x20, 0x11, kInet4), Status::Done},
      {"v2 proxy unspecified family", V2(0x21, 0x00, ""), Status::Done},
      {"v2 unix family", V2(0x21, 0x31, std::string(216, '/')), Status::Invalid},
      {"v2 unknown family", V2(0x21, 0x41, kInet4), Status::Invalid},
      {"v2 unknown transport", V2(0x21, 0x13, kInet4), Status::Invalid},
      {"v2 version 1 nibble", V2(0x11, 0x11, kInet4), Status::Invalid},
      {"v2 unknown command", V2(0x22, 0x11, kInet4), Status::Invalid},
      {"v2 ipv4 block too short", V2(0x21, 0x11, kInet4.substr(0, 8)), Status::Invalid},
      {"v2 ipv6 block too short", V2(0x21, 0x21, kInet4), Status::Invalid},
      {"v2 longer than the bound", V2(0x21, 0x11, kInet4, kMaxProxyHeaderBytes - 15), Status::Invalid},
      {"v2 bad signature", kSignature.substr(0, 11) + "!" + V2(0x21, 0x11, kInet4).substr(12), Status::Invalid},
      // Neither.
      {"http request", kAfter, Status::Invalid},
      {"almost v1", "PROXX TCP4 1.2.3.4 5.6.7.8 1 2\r\n", Status::Invalid},
  };
}

TEST(ProxyHeader, WholeHeadersAndEveryPrefix) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const std::string input = c.header + kAfter;
    const ProxyHeader whole = ReadProxyHeader(input);
    ASSERT_EQ(whole.status, c.status);
    EXPECT_EQ(whole.source_address, c.source);
    if (c.status == Status::Done) {
      EXPECT_EQ(whole.consumed, c.header.size());
      EXPECT_EQ(whole.source_port, c.port);
      EXPECT_EQ(whole.version, c.header.front() == 'P' ? 1 : 2);
    }
    // Every shorter prefix waits, until the outcome of the whole input is reached; after an
    // invalid prefix, every longer one stays invalid.
    bool invalid_seen = false;
    for (std::size_t n = 0; n < input.size(); ++n) {
      const ProxyHeader p = ReadProxyHeader(std::string_view(input).substr(0, n));
      if (c.status == Status::Done && n < c.header.size()) {
        ASSERT_EQ(p.status, Status::NeedMore) << "prefix of " << n << " bytes";
      } else if (c.status == Status::Done) {
        ASSERT_EQ(p.status, Status::Done) << "prefix of " << n << " bytes";
        ASSERT_EQ(p.consumed, c.header.size());
      } else if (invalid_seen) {
        ASSERT_EQ(p.status, Status::Invalid) << "prefix of " << n << " bytes";
      } else {
        ASSERT_NE(p.status, Status::Done) << "prefix of " << n << " bytes";
        invalid_seen = p.status == Status::Invalid;
      }
    }
  }
}

TEST(ProxyHeader, NeverWaitsPastItsBound) {
  // A version 1 line without its end, and a version 2 header announcing the most it may.
  const std::string v1 = "PROXY UNKNOWN " + std::string(kProxyV1MaxLine, 'x');
  EXPECT_EQ(ReadProxyHeader(v1.substr(0, kProxyV1MaxLine - 1)).status, Status::NeedMore);
  EXPECT_EQ(ReadProxyHeader(v1.substr(0, kProxyV1MaxLine)).status, Status::Invalid);
  const std::string v2 = V2(0x21, 0x11, kInet4 + std::string(kMaxProxyHeaderBytes - 16 - 12, 'x'));
  ASSERT_EQ(v2.size(), kMaxProxyHeaderBytes);
  EXPECT_EQ(ReadProxyHeader(v2.substr(0, v2.size() - 1)).status, Status::NeedMore);
  EXPECT_EQ(ReadProxyHeader(v2).status, Status::Done);
  EXPECT_EQ(ReadProxyHeader(v2).consumed, kMaxProxyHeaderBytes);
}

TEST(ProxyHeader, TrustedProxyList) {
  EXPECT_TRUE(ParseTrustedProxies("").empty());
  EXPECT_TRUE(ParseTrustedProxies(" , ,").empty());
  EXPECT_EQ(ParseTrustedProxies(" 10.0.0.1 ,::1,,10.0.0.1, ::ffff:127.0.0.2\t"),
            (std::vector<std::string>{"10.0.0.1", "::1", "127.0.0.2"}));
  for (const char* bad : {"10.0.0.0/8", "balancer.local", "10.0.0.1;10.0.0.2", "fe80::1%lo", "1.2.3"}) {
    SCOPED_TRACE(bad);
    try {
      ParseTrustedProxies(std::string("127.0.0.1, ") + bad);
      ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace orv::host
