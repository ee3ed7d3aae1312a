// A loopback TCP forwarder for tests: clients connect to its port and talk to the target port
// through it. A test can cut every link at once (as a server that went away), stop and resume
// listening on the same port, and cut the links after a number of bytes from the server.
#pragma once

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace orv::test {

class TcpProxy {
 public:
  explicit TcpProxy(unsigned short target_port)
      : target_(boost::asio::ip::make_address("127.0.0.1"), target_port),
        acceptor_(io_),
        work_(io_.get_executor()) {
    Listen();
    runner_ = std::thread([this] { io_.run(); });
  }
  ~TcpProxy() {
    Run([this] {
      CloseAcceptor();
      CutLinks();
    });
    work_.reset();
    io_.stop();
    runner_.join();
  }
  TcpProxy(const TcpProxy&) = delete;
  TcpProxy& operator=(const TcpProxy&) = delete;

  unsigned short port() const { return port_; }

  // Listens again on the same port (after StopListening).
  void Resume() {
    Run([this] { Listen(); });
  }
  void StopListening() {
    Run([this] { CloseAcceptor(); });
  }
  // Closes every open link in both directions.
  void CutAll() {
    Run([this] { CutLinks(); });
  }
  // Closes every link once this many more bytes have come from the server.
  void CutAfterServerBytes(std::size_t n) {
    Run([this, n] { cut_after_ = n; });
  }

 private:
  using tcp = boost::asio::ip::tcp;
  struct Link {
    explicit Link(boost::asio::io_context& io) : client(io), server(io) {}
    tcp::socket client, server;
    char up[16384], down[16384];
  };

  // Runs f on the proxy's thread and waits for it (or runs it directly before the thread runs).
  template <class F>
  void Run(F f) {
    if (!runner_.joinable()) {
      f();
      return;
    }
    std::promise<void> done;
    boost::asio::post(io_, [&] {
      f();
      done.set_value();
    });
    done.get_future().wait();
  }

  void Listen() {
    tcp::endpoint at(boost::asio::ip::make_address("127.0.0.1"), port_);
    acceptor_.open(at.protocol());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(at);
    acceptor_.listen();
    port_ = acceptor_.local_endpoint().port();
    Accept();
  }
  void CloseAcceptor() {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
  }
  void CutLinks() {
    for (auto& l : links_) {
      boost::system::error_code ignored;
      l->client.shutdown(tcp::socket::shutdown_both, ignored);
      l->client.close(ignored);
      l->server.shutdown(tcp::socket::shutdown_both, ignored);
      l->server.close(ignored);
    }
    links_.clear();
  }
  void Accept() {
    auto link = std::make_shared<Link>(io_);
    acceptor_.async_accept(link->client, [this, link](boost::system::error_code ec) {
      if (ec) return;  // closed
      boost::system::error_code cec;
      link->server.connect(target_, cec);
      if (cec) {
        link->client.close(cec);
      } else {
        links_.push_back(link);
        Pump(link, link->client, link->server, link->up, false);
        Pump(link, link->server, link->client, link->down, true);
      }
      Accept();
    });
  }
  void Pump(std::shared_ptr<Link> link, tcp::socket& from, tcp::socket& to, char* buf,
            bool from_server) {
    from.async_read_some(
        boost::asio::buffer(buf, sizeof(Link::up)),
        [this, link, &from, &to, buf, from_server](boost::system::error_code ec, std::size_t n) {
          if (ec) {
            boost::system::error_code ignored;
            to.shutdown(tcp::socket::shutdown_send, ignored);
            return;
          }
          if (from_server && cut_after_ > 0) {
            if (n >= cut_after_) {
              cut_after_ = 0;
              CutLinks();
              return;
            }
            cut_after_ -= n;
          }
          boost::asio::async_write(
              to, boost::asio::buffer(buf, n),
              [this, link, &from, &to, buf, from_server](boost::system::error_code wec,
                                                        std::size_t) {
                if (!wec) Pump(link, from, to, buf, from_server);
              });
        });
  }

  boost::asio::io_context io_;
  tcp::endpoint target_;
  tcp::acceptor acceptor_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  std::thread runner_;
  unsigned short port_ = 0;
  std::size_t cut_after_ = 0;
  std::vector<std::shared_ptr<Link>> links_;
};

}  // namespace orv::test
