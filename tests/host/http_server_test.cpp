// The listener on real loopback sockets: the exact bytes of its own answers, methods and
// versions, 100-continue, the length check, limits, the 33rd concurrent request, start and
// stop, time-outs and failures while sending.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include <boost/asio/ip/v6_only.hpp>

#include "host/http_server.h"
#include "host/net_platform.h"
#include "host/request_handler.h"
#include "support/raw_client.h"
#include "server_fixture.h"

namespace orv::host {
namespace {

using namespace std::chrono_literals;
using orv::testing::Exchange;
using test::Gate;
using orv::testing::RawClient;

constexpr const char* k400 =
    "HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";

class HttpServerTest : public test::ServerFixture {
 protected:
  // Starts the echo server with one connection cap set to 2, and fills it with two connections.
  void FillACapOfTwo(std::size_t HttpServerOptions::*cap, RawClient& a, RawClient& b) {
    HttpServerOptions options;
    options.*cap = 2;
    StartEchoServer(nullptr, options);
    ASSERT_TRUE(a.Connect(port_));
    ASSERT_TRUE(b.Connect(port_));
  }
};

TEST_F(HttpServerTest, OwnAnswersAreExactAndCloseTheConnection) {
  StartEchoServer();
  const std::string long_line = "GET /" + std::string(17000, 'a') + " HTTP/1.1\r\nHost: h\r\n\r\n";
  const struct {
    const char* name;
    std::string request;
    std::string answer;
  } cases[] = {
      {"missing Host", "GET / HTTP/1.1\r\n\r\n", k400},
      {"unknown transfer encoding",
       "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: gzip\r\n\r\nxx", k400},
      {"body without length", "POST / HTTP/1.1\r\nHost: h\r\n\r\nabc",
       "HTTP/1.1 411 Length Required\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"},
      {"expectation", "POST / HTTP/1.1\r\nHost: h\r\nExpect: magic\r\nContent-Length: 2\r\n\r\n",
       "HTTP/1.1 417 Expectation Failed\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"},
      {"body over the cap", "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 70000000\r\n\r\n",
       "HTTP/1.1 413 Request Entity Too Long\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"},
      {"request line of 17000 characters", long_line, ""},
      {"request line without a space", "HELLO\r\n\r\n", ""},
      {"not Basic", "GET / HTTP/1.1\r\nHost: h\r\nAuthorization: Digest x\r\n\r\n", ""},
  };
  for (const auto& c : cases) {
    RawClient client;
    ASSERT_TRUE(client.Connect(port_));
    client.Send(c.request);
    EXPECT_EQ(client.ReadAll(), c.answer) << c.name;
    EXPECT_TRUE(client.closed()) << c.name;
    EXPECT_FALSE(client.reset()) << c.name;
  }
  EXPECT_EQ(handler_->CreatedCount(), 0u);   // none of them reached a web module
}

TEST_F(HttpServerTest, MethodsAndVersionsReachTheWebModule) {
  StartEchoServer();
  const struct {
    std::string request;
    std::string body;   // the echo: Method MethodType PathInfo [ContentType] Content
  } cases[] = {
      // HEAD is dispatched like GET, and its answer carries the body.
      {"HEAD /h HTTP/1.1\r\nHost: h\r\n\r\n", "HEAD 4 /h [] "},
      {"DELETE /d HTTP/1.1\r\nHost: h\r\n\r\n", "DELETE 0 /d [] "},
      {"OPTIONS * HTTP/1.1\r\nHost: h\r\n\r\n", "OPTIONS 0 * [] "},
      {"get /g?a=1 HTTP/1.0\r\n\r\n", "GET 1 /g [] a=1"},
      {"POST /p HTTP/1.1\r\nHost: h\r\nX-HTTP-Method-Override: PUT\r\n"
       "Content-Type: text/xml; charset=utf-8\r\nContent-Length: 2\r\n\r\nhi",
       "PUT 2 /p [text/xml] hi"},
  };
  for (const auto& c : cases) {
    const std::string answer = Exchange(port_, c.request);
    const std::string head =
        "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/plain; charset=ISO-8859-1\r\n"
        "Content-Length: " +
        std::to_string(c.body.size()) + "\r\n\r\n";
    EXPECT_EQ(answer, head + c.body) << c.request;
  }
  EXPECT_EQ(handler_->CreatedCount(), 1u);   // one module set, reused
}

TEST_F(HttpServerTest, ContinueIsSentBeforeTheBodyIsRead) {
  StartEchoServer();
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  client.Send("POST /c HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\n");
  EXPECT_EQ(client.ReadUntil([](const std::string& s) { return s.find("\r\n\r\n") != s.npos; }),
            "HTTP/1.1 100 Continue\r\n\r\n");
  client.Send("data");
  const std::string answer = client.ReadAll();
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
  EXPECT_NE(answer.find("POST 3 /c [] data"), std::string::npos) << answer;
}

TEST_F(HttpServerTest, ChunkedBodyIsJoined) {
  StartEchoServer();
  const std::string answer = Exchange(port_,
                                      "POST /k HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
                                      "5;x=y\r\nhello\r\n6\r\n world\r\n0\r\nT: 1\r\n\r\n");
  EXPECT_NE(answer.find("\r\n\r\nPOST 3 /k [] hello world"), std::string::npos) << answer;
}

TEST_F(HttpServerTest, BodyBytesArrivingDuringTheLengthCheckGet411) {
  HttpServerOptions options;
  options.length_check_delay = 1000ms;   // room for the late bytes on a loaded machine
  StartEchoServer(nullptr, options);
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  client.Send("PUT /late HTTP/1.1\r\nHost: h\r\n\r\n");
  std::this_thread::sleep_for(30ms);
  client.Send("abc");
  EXPECT_EQ(client.ReadAll(),
            "HTTP/1.1 411 Length Required\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
}

TEST_F(HttpServerTest, ErrorOutsideTheModuleIs500WithItsText) {
  StartServer([](HttpExchange&) { throw std::runtime_error("bridge broke"); });
  EXPECT_EQ(Exchange(port_, "GET / HTTP/1.1\r\nHost: h\r\n\r\n"),
            "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\n"
            "Content-Type: text/html; charset=ISO-8859-1\r\nContent-Length: 12\r\n\r\nbridge broke");
}

constexpr const char* kRefusal =
    "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\n"
    "Content-Type: text/html; charset=ISO-8859-1\r\nContent-Length: 74\r\n\r\n"
    "Maximum number of concurrent connections exceeded.  Please try again later";

// Past the 32 web modules a request waits for one: served when one comes free within the wait,
// refused with the 500 text when none does; past the waiting bound, refused at once.
TEST_F(HttpServerTest, RequestsPastThe32ModulesWaitThenAreRefused) {
  Gate gate;
  DispatchWait wait;
  wait.timeout = 500ms;
  wait.max_waiting = 2;
  StartEchoServer(&gate, {}, wait);
  std::vector<std::future<std::string>> first;
  for (int i = 0; i < 32; ++i) {
    first.push_back(std::async(std::launch::async, [this, i] {
      return Exchange(port_, "GET /n" + std::to_string(i) + " HTTP/1.1\r\nHost: h\r\n\r\n",
                      30s);
    }));
  }
  ASSERT_TRUE(gate.WaitInside(32));
  // Held longer than the wait: refused, after the wait.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange(port_, "GET /33 HTTP/1.1\r\nHost: h\r\n\r\n"), kRefusal);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 450ms);
  // Two wait; a third finds the waiting places taken and is refused at once.
  auto w1 = std::async(std::launch::async, [this] {
    return Exchange(port_, "GET /w1 HTTP/1.1\r\nHost: h\r\n\r\n");
  });
  auto w2 = std::async(std::launch::async, [this] {
    return Exchange(port_, "GET /w2 HTTP/1.1\r\nHost: h\r\n\r\n");
  });
  for (int i = 0; i < 200 && handler_->WaitingCount() < 2; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(handler_->WaitingCount(), 2u);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange(port_, "GET /w3 HTTP/1.1\r\nHost: h\r\n\r\n"), kRefusal);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
  // Modules come free within the wait: the waiting ones are served.
  gate.Open();
  EXPECT_NE(w1.get().find("GET 1 /w1"), std::string::npos);
  EXPECT_NE(w2.get().find("GET 1 /w2"), std::string::npos);
  for (int i = 0; i < 32; ++i) {
    const std::string answer = first[static_cast<std::size_t>(i)].get();
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("GET 1 /n" + std::to_string(i) + " "), std::string::npos);
  }
  EXPECT_EQ(handler_->CreatedCount(), 32u);   // the waiting ones took sets given back
  EXPECT_EQ(handler_->InactiveCount(), 32u);
}

TEST_F(HttpServerTest, StopWaitsForADispatchInProgress) {
  Gate gate;
  StartEchoServer(&gate);
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  client.Send("GET / HTTP/1.1\r\nHost: h\r\n\r\n");
  ASSERT_TRUE(gate.WaitInside(1));
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    server_->Stop();
    stopped = true;
  });
  // The connection is dropped at once, but Stop returns only when the dispatch has ended.
  EXPECT_EQ(client.ReadAll(), "");
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(stopped.load());
  gate.Open();
  stopper.join();
  EXPECT_TRUE(stopped.load());
  EXPECT_FALSE(server_->Active());
  RawClient late;
  EXPECT_FALSE(late.Connect(port_));
  EXPECT_TRUE(SendErrors().empty());   // a stop is not a send failure
}

TEST_F(HttpServerTest, StartFailsWholeWhenAPortIsTaken) {
  namespace asio = boost::asio;
  asio::io_context io;
  // The IPv6 any-address taken, IPv4 free: the IPv4 socket bound first must be closed again.
  asio::ip::tcp::acceptor taken(io);
  boost::system::error_code ec;
  taken.open(asio::ip::tcp::v6(), ec);
  if (ec) GTEST_SKIP() << "no IPv6 on this host";
  taken.set_option(asio::ip::v6_only(true));
  taken.bind({asio::ip::address_v6::any(), 0});
  taken.listen();
  const unsigned short port = taken.local_endpoint().port();

  THttpServer server;
  server.SetDefaultPort(port);
  try {
    server.Start();
    FAIL() << "start succeeded on a taken port";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(server.Active());
  RawClient probe;
  EXPECT_FALSE(probe.Connect(port));   // nothing listens on IPv4 either

  // The same port free again: both bindings listen, and a stop and a start at once work.
  taken.close();
  server.Start();
  EXPECT_EQ(server.BoundPorts().size(), 2u);
  server.Stop();
  server.Start();
  EXPECT_TRUE(server.Active());
  server.Stop();
}

// Stands in for the operating system's descriptor limit and IPv6 support.
class FakePlatform : public INetPlatform {
 public:
  long limit = -1;
  bool ipv6 = false;
  int reuse_calls = 0;
  long RaiseDescriptorLimit() override { return limit; }
  bool Ipv6Supported() override { return ipv6; }
  void SetListenerReuse(boost::asio::ip::tcp::acceptor& a, boost::system::error_code& ec) override {
    ++reuse_calls;
    DefaultNetPlatform().SetListenerReuse(a, ec);
  }
  long long UnsentBytes(boost::asio::ip::tcp::socket&) override { return -1; }
};

TEST_F(HttpServerTest, ConnectionCapStaysBelowTheDescriptorLimit) {
  const struct {
    long limit;
    std::size_t cap;
  } cases[] = {{1024, 1024 - kDescriptorReserve}, {100, 16}, {-1, kMaxConnectionsUnlimited}};
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.limit = c.limit;
    THttpServer server({}, &platform);
    server.SetDefaultPort(0);
    server.Start();
    EXPECT_EQ(server.MaxConnections(), c.cap) << c.limit;
    EXPECT_EQ(server.BoundPorts().size(), 1u);   // no IPv6: the IPv4 binding only
    EXPECT_EQ(platform.reuse_calls, 1);
    server.Stop();
  }
}

TEST_F(HttpServerTest, IdleConnectionIsClosedWithoutAnswer) {
  HttpServerOptions options;
  options.idle_timeout = 300ms;
  StartEchoServer(nullptr, options);
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  // More body announced than sent: no answer, and the connection ends after the time-out.
  client.Send("POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 10\r\n\r\nabc");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.ReadAll(10s), "");
  EXPECT_TRUE(client.closed());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  // The connection object goes once its cancelled operations have run.
  for (int i = 0; i < 200 && server_->OpenConnections() > 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(server_->OpenConnections(), 0u);
}

// A burst of connections larger than one turn's accepts, all idle: every one is accepted and,
// once idle too long, cut by the sweep, whose closes are spread over several turns.
TEST_F(HttpServerTest, ABurstOfIdleConnectionsIsAcceptedAndAllCut) {
  HttpServerOptions options;
  options.idle_timeout = 300ms;
  StartEchoServer(nullptr, options);
  const std::size_t n = 2 * kAcceptBatch + 3 * kSweepEndsPerTurn + 1;
  std::vector<RawClient> clients(n);
  for (auto& c : clients) ASSERT_TRUE(c.Connect(port_));
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(clients[i].ReadAll(5s), "") << i;
    EXPECT_TRUE(clients[i].closed()) << i;
  }
  for (int i = 0; i < 200 && server_->OpenConnections() > 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(server_->OpenConnections(), 0u);
  EXPECT_EQ(Exchange(port_, "GET / HTTP/1.1\r\nHost: h\r\n\r\n").rfind("HTTP/1.1 200 OK", 0), 0u);
}

// A client that trickles header bytes, each within the idle time, is cut when the headers
// are not all in by the header deadline.
TEST_F(HttpServerTest, HeadersTrickledPastTheirDeadlineAreCut) {
  HttpServerOptions options;
  options.idle_timeout = 5s;
  options.header_timeout = 400ms;
  StartEchoServer(nullptr, options);
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  const auto start = std::chrono::steady_clock::now();
  client.Send("GET / HTTP/1.1\r\n");
  for (int i = 0; i < 40 && !client.closed(); ++i) {
    if (!client.Send("X")) break;
    EXPECT_EQ(client.ReadAll(100ms), "");
  }
  EXPECT_TRUE(client.closed());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

constexpr const char* k503 =
    "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";

// Only bytes held count against the server's budget: announcing a body costs nothing, and
// requests whose bytes cannot fit get 503; the room comes back when the connection ends.
TEST_F(HttpServerTest, TheBudgetCountsBytesHeldNotAnnounced) {
  RequestBudget budget(4000, 2400, 100);
  HttpServerOptions options;
  options.limits.budget = &budget;
  StartEchoServer(nullptr, options);
  std::vector<std::unique_ptr<RawClient>> holders;
  for (int i = 0; i < 10; ++i) {   // each announces 2000 and sends 3 bytes
    holders.push_back(std::make_unique<RawClient>());
    ASSERT_TRUE(holders.back()->Connect(port_));
    holders.back()->Send("POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 2000\r\n\r\nabc");
  }
  const std::uint64_t each = 53;   // the request line, headers and 3 body bytes
  for (int i = 0; i < 200 && budget.InUse() < 10 * each; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(budget.InUse(), 10 * each);
  // A whole large body still fits beside them.
  EXPECT_NE(Exchange(port_, "POST /b HTTP/1.1\r\nHost: h\r\nContent-Length: 2000\r\n\r\n" +
                                std::string(2000, 'b'))
                .find("HTTP/1.1 200"),
            std::string::npos);
  // One that cannot fit in the large share is refused before its body is read.
  EXPECT_EQ(Exchange(port_, "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 2500\r\n\r\n"), k503);
  holders.clear();
  for (int i = 0; i < 200 && budget.InUse() > 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(budget.InUse(), 0u);
}

// A request that arrives slower than the minimum rate is closed once the grace has passed; one
// that keeps the rate is served however long it takes.
TEST_F(HttpServerTest, TricklingSendersAreCutAndSlowButSteadyOnesServed) {
  HttpServerOptions options;
  options.min_bytes_per_second = 200;
  options.min_rate_grace = 300ms;
  StartEchoServer(nullptr, options);
  RawClient trickler;   // one byte per 100 ms: 10 bytes/s
  ASSERT_TRUE(trickler.Connect(port_));
  trickler.Send("POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 1000\r\n\r\n");
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 50 && trickler.Send("x"); ++i) {
    if (!trickler.ReadSome(100, 100ms).empty() || trickler.closed()) break;
  }
  EXPECT_TRUE(trickler.closed());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);

  RawClient steady;   // 100 bytes per 100 ms: 1000 bytes/s, for 1.2 s
  ASSERT_TRUE(steady.Connect(port_));
  steady.Send("POST /s HTTP/1.1\r\nHost: h\r\nContent-Length: 1200\r\n\r\n");
  for (int i = 0; i < 12; ++i) {
    ASSERT_TRUE(steady.Send(std::string(100, 's'))) << i;
    std::this_thread::sleep_for(100ms);
  }
  const std::string answer = steady.ReadAll();
  EXPECT_NE(answer.find("POST 3 /s [] " + std::string(1200, 's')), std::string::npos);
}

// One address holds at most the per-peer number of connections; others are not affected.
TEST_F(HttpServerTest, ConnectionsPastThePerPeerCapGet503) {
  RawClient a, b, c;
  ASSERT_NO_FATAL_FAILURE(FillACapOfTwo(&HttpServerOptions::max_connections_per_peer, a, b));
  a.Send("GET / HTTP/1.1\r\n");   // both held open, mid-request
  b.Send("GET / HTTP/1.1\r\n");
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(c.Connect(port_));
  c.Send("GET /c HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(c.ReadAll(), k503);
  EXPECT_FALSE(c.reset());
  c.Close();
  RawClient other;
  ASSERT_TRUE(other.Connect(port_, "127.0.0.1", "127.0.0.2"));
  other.Send("GET /o HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_NE(other.ReadAll().find("GET 1 /o"), std::string::npos);
  a.Close();
  for (int i = 0; i < 200 && server_->OpenConnections() > 1; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_NE(Exchange(port_, "GET /d HTTP/1.1\r\nHost: h\r\n\r\n").find("GET 1 /d"),
            std::string::npos);
}

// The send deadline measures progress: a slow reader gets the whole answer although it takes
// many times the deadline; a reader that stops is cut after it, and the failure is reported.
TEST_F(HttpServerTest, ASlowReaderGetsItAllAndAStoppedOneIsCut) {
  const std::string big(2 << 20, 'z');
  // The same size in pieces of their own bytes, sent one after the other.
  std::vector<std::string> parts;
  std::string joined;
  for (int i = 0; i < 40; ++i) parts.emplace_back(52429, static_cast<char>('a' + i % 26));
  for (const auto& p : parts) joined += p;
  HttpServerOptions options;
  options.send_progress_timeout = 400ms;
  options.idle_timeout = 400ms;
  StartServer(
      [&](HttpExchange& ex) {
        // More than the sockets' queues hold, for the reader that stops.
        if (ex.Request().path == "/parts") ex.Response().SetContentParts(parts);
        else ex.Response().SetContentStream(ex.Request().path == "/huge" ? std::string(32 << 20, 'h') : big);
      },
      options);

  for (const char* path : {"/", "/parts"}) {
    SCOPED_TRACE(path);
    const std::string& want = std::string(path) == "/" ? big : joined;
    RawClient slow;
    ASSERT_TRUE(slow.Connect(port_, "127.0.0.1", nullptr, 32 * 1024));
    slow.Send(std::string("GET ") + path + " HTTP/1.1\r\nHost: h\r\n\r\n");
    std::string got;
    const auto start = std::chrono::steady_clock::now();
    while (!slow.closed() && std::chrono::steady_clock::now() - start < 30s) {
      got += slow.ReadSome(4096, 1s);   // at most 4 KiB per 5 ms: under a megabyte a second
      std::this_thread::sleep_for(5ms);
    }
    EXPECT_GT(std::chrono::steady_clock::now() - start, 1s);   // many times the deadline
    ASSERT_GT(got.size(), want.size());
    EXPECT_NE(got.find("Content-Length: " + std::to_string(want.size()) + "\r\n"), std::string::npos);
    EXPECT_EQ(got.substr(got.size() - want.size()), want);
    EXPECT_TRUE(SendErrors().empty());
  }

  RawClient stopped;
  ASSERT_TRUE(stopped.Connect(port_, "127.0.0.1", nullptr, 32 * 1024));
  stopped.Send("GET /huge HTTP/1.1\r\nHost: h\r\n\r\n");
  stopped.ReadSome(1000);
  for (int i = 0; i < 300 && SendErrors().empty(); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(SendErrors().size(), 1u);
  EXPECT_NE(SendErrors()[0].find("timed out"), std::string::npos) << SendErrors()[0];
}

TEST_F(HttpServerTest, PeerResetWhileReadingIsQuietAndSendFailureIsReported) {
  std::promise<void> client_gone;
  std::shared_future<void> gone = client_gone.get_future().share();
  StartServer([gone](HttpExchange& ex) {
    if (ex.Request().path == "/big") {
      gone.wait();
      ex.Response().SetContentStream(std::string(8 << 20, 'x'));
    }
  });
  {
    RawClient half;   // resets in the middle of its headers
    ASSERT_TRUE(half.Connect(port_));
    half.Send("GET / HTTP/1.1\r\nHo");
    half.Reset();
  }
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  client.Send("GET /big HTTP/1.1\r\nHost: h\r\n\r\n");
  std::this_thread::sleep_for(50ms);
  client.Reset();
  client_gone.set_value();
  for (int i = 0; i < 200 && SendErrors().empty(); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(SendErrors().size(), 1u);   // the reset while reading was not reported
  EXPECT_FALSE(SendErrors()[0].empty());
  // The listener goes on serving.
  EXPECT_EQ(Exchange(port_, "GET / HTTP/1.1\r\nHost: h\r\n\r\n").rfind("HTTP/1.1 200 OK", 0), 0u);
}

TEST_F(HttpServerTest, ConnectionsBeyondTheCapWaitForAFreeOne) {
  RawClient a, b, c;
  ASSERT_NO_FATAL_FAILURE(FillACapOfTwo(&HttpServerOptions::max_connections, a, b));
  ASSERT_TRUE(c.Connect(port_));   // queued by the kernel, not yet accepted
  c.Send("GET /c HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(c.ReadAll(300ms), "");
  EXPECT_FALSE(c.closed());
  a.Close();
  const std::string answer = c.ReadAll();
  EXPECT_NE(answer.find("GET 1 /c"), std::string::npos) << answer;
}

}  // namespace
}  // namespace orv::host
