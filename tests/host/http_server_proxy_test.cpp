// The listener behind a trusted proxy, on real loopback sockets: the PROXY header's client
// address becomes the peer address; a trusted connection without a valid header is closed
// without an answer and reaches nothing; from any other address the header is answered as
// the same bytes are without a trusted proxy.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/http_limits.h"
#include "host/http_server.h"
#include "support/raw_client.h"
#include "server_fixture.h"

namespace orv::host {
namespace {

using namespace std::chrono_literals;
using orv::testing::RawClient;

const std::string kRequest = "GET /x HTTP/1.1\r\nHost: h\r\n\r\n";
const std::string kSignature{"\r\n\r\n\0\r\nQUIT\n", 12};

std::string V2(unsigned char command, unsigned char family, const std::string& rest) {
  std::string h = kSignature;
  h += static_cast<char>(command);
  h += static_cast<char>(family);
  h += static_cast<char>(rest.size() >> 8);
  h += static_cast<char>(rest.size() & 0xFF);
  return h + rest;
}

// 2001:db8::5 port 40000 to 2001:db8::1 port 443.
std::string Inet6() {
  std::string a(16, '\0'), b(16, '\0');
  a[0] = b[0] = 0x20;
  a[1] = b[1] = 0x01;
  a[2] = b[2] = 0x0d;
  a[3] = b[3] = static_cast<char>(0xb8);
  a[15] = 5;
  b[15] = 1;
  return a + b + std::string("\x9c\x40\x01\xbb", 4);
}

class ProxyListenerTest : public test::ServerFixture {
 protected:
  // Answers the peer address the request arrived with.
  void Start(std::vector<std::string> trusted, std::size_t per_peer = kMaxConnectionsPerPeer) {
    HttpServerOptions o;
    o.trusted_proxies = std::move(trusted);
    o.max_connections_per_peer = per_peer;
    o.header_timeout = 400ms;
    StartServer(
        [this](HttpExchange& ex) {
          ++dispatched_;
          ex.Response().ContentType = "text/plain";
          ex.Response().SetContent(ex.Request().peer_address);
        },
        o);
  }
  // Sends the pieces with a pause between them, then reads everything until the server closes.
  std::string Exchange(const std::vector<std::string>& pieces, bool shut_after = false) {
    RawClient c;
    if (!c.Connect(port_)) return "<connect failed>";
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(30ms);
      c.Send(pieces[i]);
    }
    if (shut_after) c.ShutdownSend();
    std::string got = c.ReadAll(3s);
    if (!c.closed()) got += "<still open>";
    return got;
  }
  static std::string Body(const std::string& answer) {
    const std::size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? "<no answer>" : answer.substr(end + 4);
  }
  std::atomic<int> dispatched_{0};
};

TEST_F(ProxyListenerTest, TheHeadersClientAddressBecomesThePeerAddress) {
  Start({"127.0.0.1"});
  const std::string v1 = "PROXY TCP4 10.1.2.3 127.0.0.1 5000 8080\r\n";
  const std::string v2 = V2(0x21, 0x21, Inet6());
  const struct {
    const char* name;
    std::vector<std::string> pieces;
    std::string peer;
  } cases[] = {
      {"version 1 with the request", {v1 + kRequest}, "10.1.2.3"},
      {"version 1 in pieces", {v1.substr(0, 9), v1.substr(9) + kRequest.substr(0, 5), kRequest.substr(5)}, "10.1.2.3"},
      {"version 2 alone, then the request", {v2, kRequest}, "2001:db8::5"},
      {"version 2 byte by byte", {v2.substr(0, 13), v2.substr(13, 3), v2.substr(16) + kRequest}, "2001:db8::5"},
      {"version 1 UNKNOWN keeps the connection's own", {"PROXY UNKNOWN\r\n" + kRequest}, "127.0.0.1"},
      {"version 2 LOCAL keeps the connection's own", {V2(0x20, 0x00, "") + kRequest}, "127.0.0.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string answer = Exchange(c.pieces);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
    EXPECT_EQ(Body(answer), c.peer);
  }
  EXPECT_EQ(dispatched_, 6);
}

TEST_F(ProxyListenerTest, ThePerAddressCapCountsTheClientsTheHeadersName) {
  Start({"127.0.0.1"}, 1);
  RawClient held;   // a request from 10.0.0.1 under way
  ASSERT_TRUE(held.Connect(port_));
  held.Send("PROXY TCP4 10.0.0.1 127.0.0.1 1000 80\r\nGET / HTTP/1.1\r\n");
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Body(Exchange({"PROXY TCP4 10.0.0.2 127.0.0.1 1000 80\r\n" + kRequest})), "10.0.0.2");
  EXPECT_EQ(Exchange({"PROXY TCP4 10.0.0.1 127.0.0.1 1001 80\r\n" + kRequest}),
            "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(dispatched_, 1);
}

TEST_F(ProxyListenerTest, ATrustedConnectionWithoutAValidHeaderIsClosedAndReachesNothing) {
  Start({"::1", "127.0.0.1"});
  const struct {
    const char* name;
    std::vector<std::string> pieces;
    bool shut_after;
  } cases[] = {
      {"no header", {kRequest}, false},
      {"malformed", {"PROXY TCP4 10.1.2.3 127.0.0.1 5000 99999\r\n" + kRequest}, false},
      {"unknown family, version 1", {"PROXY TCP5 10.1.2.3 127.0.0.1 5000 80\r\n" + kRequest}, false},
      {"unknown family, version 2", {V2(0x21, 0x41, std::string(12, '\1')) + kRequest}, false},
      {"UNIX family, version 2", {V2(0x21, 0x31, std::string(216, '/')) + kRequest}, false},
      {"truncated, then the end", {"PROXY TCP4 10.1.2.3 127.0"}, true},
      {"truncated, then silence", {V2(0x21, 0x11, std::string(12, '\1')).substr(0, 20)}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Exchange(c.pieces, c.shut_after), "");
  }
  EXPECT_EQ(dispatched_, 0);
}

TEST_F(ProxyListenerTest, FromAnUntrustedAddressAHeaderIsAnsweredAsWithoutTrustedProxies) {
  const std::vector<std::string> inputs = {
      "PROXY TCP4 10.1.2.3 127.0.0.1 5000 8080\r\n" + kRequest,
      V2(0x21, 0x21, Inet6()) + kRequest,
  };
  std::vector<std::string> plain;
  Start({});
  for (const std::string& in : inputs) plain.push_back(Exchange({in}));
  const int dispatched_plain = dispatched_;
  server_->Stop();

  Start({"127.0.0.2", "::1"});
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string answer = Exchange({inputs[i]});
    EXPECT_EQ(answer, plain[i]);
    EXPECT_EQ(Body(answer).find("10.1.2.3"), std::string::npos);
  }
  EXPECT_EQ(dispatched_, 2 * dispatched_plain);
}

}  // namespace
}  // namespace orv::host
