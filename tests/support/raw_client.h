// A raw TCP client on loopback for the tests of the listener and of the whole service: sends exact bytes and reads what the
// server answers, with time limits so a fault never hangs a test.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

namespace orv::testing {

// A loopback port nothing listens on: taken from the system and let go at once.
inline unsigned short ClosedLoopbackPort() {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor probe(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  return probe.local_endpoint().port();
}

class RawClient {
 public:
  RawClient() = default;

  // From the loopback address `from` when given; a receive buffer of `receive_buffer` bytes when
  // given (a slow reader then holds the server back sooner).
  bool Connect(unsigned short port, const char* address = "127.0.0.1", const char* from = nullptr,
               int receive_buffer = 0) {
    namespace ip = boost::asio::ip;
    boost::system::error_code ec;
    socket_.open(ip::tcp::v4(), ec);
    if (!ec && receive_buffer > 0)
      socket_.set_option(boost::asio::socket_base::receive_buffer_size(receive_buffer), ec);
    if (!ec && from) socket_.bind({ip::make_address(from), 0}, ec);
    if (!ec) socket_.connect({ip::make_address(address), port}, ec);
    return !ec;
  }

  bool Send(const std::string& bytes) {
    boost::system::error_code ec;
    boost::asio::write(socket_, boost::asio::buffer(bytes), ec);
    return !ec;
  }

  // Reads until `done(received)` holds, the server closes, or the time is up. Returns what was
  // received in this call; closed() tells whether the server ended the connection.
  std::string ReadUntil(const std::function<bool(const std::string&)>& done,
                        std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::string got;
    bool finished = false;
    std::function<void()> next;
    next = [&] {
      socket_.async_read_some(boost::asio::buffer(chunk_),
                              [&](const boost::system::error_code& ec, std::size_t n) {
                                got.append(chunk_, n);
                                if (ec == boost::asio::error::operation_aborted) return;
                                if (ec) {
                                  closed_ = true;
                                  reset_ = ec == boost::asio::error::connection_reset;
                                  finished = true;
                                  return;
                                }
                                if (done(got)) {
                                  finished = true;
                                  return;
                                }
                                next();
                              });
    };
    next();
    io_.restart();
    io_.run_for(limit);
    if (!finished) {
      socket_.cancel();
      io_.restart();
      io_.run();   // let the cancelled read finish
    }
    return got;
  }

  // Reads up to `n` bytes of what has arrived, waiting at most `limit` for the first.
  std::string ReadSome(std::size_t n, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::string got;
    bool done = false;
    socket_.async_read_some(boost::asio::buffer(chunk_, std::min(n, sizeof chunk_)),
                            [&](const boost::system::error_code& ec, std::size_t k) {
                              done = true;
                              got.append(chunk_, k);
                              if (ec && ec != boost::asio::error::operation_aborted) {
                                closed_ = true;
                                reset_ = ec == boost::asio::error::connection_reset;
                              }
                            });
    io_.restart();
    io_.run_for(limit);
    if (!done) {
      socket_.cancel();
      io_.restart();
      io_.run();
    }
    return got;
  }

  // Everything until the server closes (or the time is up).
  std::string ReadAll(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return ReadUntil([](const std::string&) { return false; }, limit);
  }

  // Shuts the sending side (the server sees end of stream).
  void ShutdownSend() {
    boost::system::error_code ec;
    socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_send, ec);
  }
  // Closes with a reset instead of an orderly close.
  void Reset() {
    boost::system::error_code ec;
    socket_.set_option(boost::asio::socket_base::linger(true, 0), ec);
    socket_.close(ec);
  }
  void Close() {
    boost::system::error_code ec;
    socket_.close(ec);
  }

  bool closed() const { return closed_; }
  bool reset() const { return reset_; }

 private:
  boost::asio::io_context io_;
  boost::asio::ip::tcp::socket socket_{io_};
  char chunk_[4096];
  bool closed_ = false;
  bool reset_ = false;
};

// One request on a fresh connection; the whole answer until the server closes.
inline std::string Exchange(unsigned short port, const std::string& request,
                            std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  RawClient c;
  if (!c.Connect(port)) return "<connect failed>";
  c.Send(request);
  return c.ReadAll(limit);
}

}  // namespace orv::testing
