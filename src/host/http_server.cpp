// The HTTP listener: an Asio event loop on one thread for accepting, reading and writing, and
// a worker pool for dispatch. Every socket operation runs on the event-loop thread; dispatch
// threads only hand finished responses back to it.
#include "host/http_server.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include "host/net_platform.h"
#include "host/proxy_protocol.h"
#include "host/worker_pool.h"
#include "util/platform.h"

namespace orv::host {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

struct Listener {
  explicit Listener(asio::io_context& io) : acceptor(io), retry(io) {}
  tcp::acceptor acceptor;
  asio::steady_timer retry;
  unsigned short port = 0;   // the bound port: the local port of every connection it accepts
  tcp::endpoint peer;        // filled by each accept
  bool paused = false;
};

namespace {

WorkerPoolOptions DispatchPoolOptions(const HttpServerOptions& o) {
  std::size_t at_once = o.dispatch_at_once;
  if (at_once == 0) {
    const unsigned cores = std::thread::hardware_concurrency();
    at_once = std::max<std::size_t>(kMinDispatchAtOnce, kDispatchAtOncePerCore * cores);
  }
  return {.max_threads = o.max_dispatch_threads,
          .threads_at_once = at_once,
          .stall_delay = o.dispatch_stall_delay,
          .idle_end = kDispatchThreadIdleEnd};
}

}  // namespace

struct THttpServer::Impl {
  Impl(const HttpServerOptions& opts, std::size_t max_conn, CommandHandler handler,
       SendErrorSink sink, INetPlatform& net)
      : platform(net),
        options(opts),
        max_connections(max_conn),
        on_command(std::move(handler)),
        on_send_error(std::move(sink)),
        workers(DispatchPoolOptions(opts)),
        large_workers({.max_threads = kLargeRequestThreads,
                       .name = "orv-despacho-g",
                       .niceness = kLargeRequestNiceness}) {
    if (!options.limits.budget) options.limits.budget = &request_budget;
  }

  // Event loop: waits for a connection, then takes every one already queued (up to
  // kAcceptBatch) in the same turn.
  void Accept(Listener& l);
  bool Full();   // at the connection cap
  void AcceptFailed(Listener& l, const error_code& ec);
  void Open(Listener& l, tcp::socket socket);
  // From any thread.
  void Remove(const std::shared_ptr<Connection>& c);
  void ResumeAccepting();   // event loop
  std::vector<std::shared_ptr<Connection>> OpenConnectionList() {
    std::lock_guard<std::mutex> lock(connections_mutex);
    return {connections.begin(), connections.end()};
  }
  // Every connection's idle and header deadlines are checked by one periodic sweep instead
  // of a timer per connection, which would cost a system call per request.
  void Sweep();
  // Checks `list` from `from` on, ending at most kSweepEndsPerTurn connections in this turn of
  // the event loop; the rest of the list waits for the next turn, behind the accepts and reads
  // that are ready, and the next sweep is set once the list is done.
  void SweepFrom(std::shared_ptr<std::vector<std::shared_ptr<Connection>>> list, std::size_t from,
                 std::chrono::steady_clock::time_point now);
  void ConnectionEnded() {
    std::lock_guard<std::mutex> lock(count_mutex);
    --count;
    count_changed.notify_all();
  }

  // Admits a connection from `peer` under the per-peer cap (any thread); Release undoes it.
  bool AdmitPeer(const std::string& peer) {
    if (options.max_connections_per_peer == 0) return true;
    std::lock_guard<std::mutex> lock(connections_mutex);
    std::size_t& n = per_peer[peer];
    if (n >= options.max_connections_per_peer) return false;
    ++n;
    return true;
  }
  void ReleasePeer(const std::string& peer) {
    std::lock_guard<std::mutex> lock(connections_mutex);
    auto it = per_peer.find(peer);
    if (it == per_peer.end()) return;
    if (--it->second == 0) per_peer.erase(it);
  }

  INetPlatform& platform;
  RequestBudget request_budget;   // before options, which may point to it
  HttpServerOptions options;
  std::size_t max_connections;
  CommandHandler on_command;
  SendErrorSink on_send_error;
  asio::io_context io;
  std::vector<std::unique_ptr<Listener>> listeners;
  std::mutex connections_mutex;
  std::unordered_set<std::shared_ptr<Connection>> connections;   // under connections_mutex
  std::unordered_map<std::string, std::size_t> per_peer;           // under connections_mutex
  std::atomic<bool> accept_paused{false};   // a listener waits for a connection to end
  std::atomic<bool> stopping{false};
  std::mutex count_mutex;
  std::condition_variable count_changed;
  std::size_t count = 0;   // connections not yet destroyed, under count_mutex
  WorkerPool workers;
  WorkerPool large_workers;   // requests past kSmallBodyBytes, at a lower priority
  asio::steady_timer sweep{io};
  std::chrono::milliseconds sweep_period{1000};
  std::thread loop;
};

namespace {

// An answer on its way out, in the pieces it was rendered in; each piece is freed as soon as
// it has been sent, so a long answer's memory goes back as the client reads it.
class OutParts {
 public:
  OutParts() = default;
  explicit OutParts(std::vector<std::string> parts) : parts_(std::move(parts)) { Skip(); }
  explicit OutParts(std::string bytes) { parts_.push_back(std::move(bytes)); }
  bool Done() const { return part_ >= parts_.size(); }
  // Writes what it can without blocking; the socket's error, if any.
  std::size_t WriteSome(tcp::socket& socket, error_code& ec) {
    const std::size_t n = parts_.size() - part_ == 1 ? socket.write_some(Current(), ec)
                                                     : socket.write_some(Buffers(), ec);
    Consume(n);
    return n;
  }
  template <class Handler>
  void AsyncWriteSome(tcp::socket& socket, Handler&& handler) {
    if (parts_.size() - part_ == 1) socket.async_write_some(Current(), std::forward<Handler>(handler));
    else socket.async_write_some(Buffers(), std::forward<Handler>(handler));
  }
  void Consume(std::size_t n) {
    while (n > 0 && !Done()) {
      const std::size_t take = std::min(n, parts_[part_].size() - offset_);
      offset_ += take;
      n -= take;
      Skip();
    }
  }
 private:
  asio::const_buffer Current() const {
    return asio::buffer(parts_[part_].data() + offset_, parts_[part_].size() - offset_);
  }
  std::vector<asio::const_buffer> Buffers() const {
    std::vector<asio::const_buffer> b;
    const std::size_t end = std::min(parts_.size(), part_ + kMaxWriteBuffers);
    b.reserve(end - part_);
    b.push_back(Current());
    for (std::size_t i = part_ + 1; i < end; ++i) b.push_back(asio::buffer(parts_[i]));
    return b;
  }
  // Past the pieces sent whole, freeing them.
  void Skip() {
    while (!Done() && offset_ == parts_[part_].size()) {
      std::string().swap(parts_[part_]);
      ++part_;
      offset_ = 0;
    }
  }

  std::vector<std::string> parts_;
  std::size_t part_ = 0;     // the piece being sent
  std::size_t offset_ = 0;   // bytes of it sent
};

}  // namespace

// One client connection: reads one request, has it dispatched, writes the response, closes.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(THttpServer::Impl& server, tcp::socket socket)
      : ended_{&server},
        server_(server),
        socket_(std::move(socket)),
        timer_(server.io),
        reader_(server.options.limits) {}

  // The peer's address as the accept gave it and the port it arrived on.
  void Start(const tcp::endpoint& peer, unsigned short local_port) {
    reader_.request().peer_address = PeerAddressText(peer.address());
    reader_.request().local_port = local_port;
    const auto& trusted = server_.options.trusted_proxies;
    proxy_header_ = std::find(trusted.begin(), trusted.end(), reader_.request().peer_address) !=
                    trusted.end();
    accepted_at_ = std::chrono::steady_clock::now();
    header_deadline_ = accepted_at_ + server_.options.header_timeout;
    // Non-blocking from the start (the asynchronous reads would make it so anyway): the
    // dispatch thread's write must never wait.
    error_code ec;
    socket_.non_blocking(true, ec);
    // From a trusted proxy the cap counts the client its header names, once it has come.
    if (proxy_header_ || Admit()) ReadMore();
  }

  // From the sweep (event loop): ends the connection when its deadline has passed, or when its
  // request arrives slower than the minimum rate. Returns whether it ended it.
  bool CheckDeadline(std::chrono::steady_clock::time_point now) {
    if (finished_) return false;
    if (writing_) NoteSendProgress();
    if (now < deadline_ && !TooSlow(now)) return false;
    deadline_ = kNoDeadline;
    timed_out_ = true;
    Finish(false);
    return true;
  }

  // Stop: the connection is closed at once; a dispatch in progress runs to its end and its
  // response is dropped.
  void Abort() { Finish(false); }

  // From a dispatch thread: the rendered response. Written and closed from this thread when
  // the socket takes it all at once, the common case: handing it back to the event loop would
  // cost a wake-up of the loop's thread per request. The event loop writes whatever the
  // socket does not take at once, and lingers when the client sent more than was read.
  // During a dispatch nothing else uses the socket but a stop, which takes io_mutex_ too.
  void QueueResponse(std::vector<std::string> parts) {
    std::unique_lock<std::mutex> lock(io_mutex_);
    if (finished_) return;   // closed by a stop meanwhile
    error_code ec;
    OutParts out(std::move(parts));
    while (!out.Done() && !ec) out.WriteSome(socket_, ec);
    auto self = shared_from_this();
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
      lock.unlock();
      asio::post(server_.io, [self, rest = std::move(out)]() mutable {
        self->WriteAndClose(std::move(rest), true);
      });
      return;
    }
    if (!ec) {
      error_code aec;
      const bool unread = reader_.pending_bytes() > 0 ||
                          reader_.status() != HttpRequestReader::Status::Complete ||
                          socket_.available(aec) > 0;
      if (unread) {
        lock.unlock();
        asio::post(server_.io, [self] { self->Finish(true); });
        return;
      }
    } else {
      ReportSendError(ec);
    }
    finished_ = true;
    error_code cec;
    socket_.close(cec);
    lock.unlock();
    LeavePeer();
    server_.Remove(self);
  }

 private:
  // Uses of the connection's own timer; idle and header deadlines are checked by the server's
  // sweep instead (SetDeadline).
  enum class TimerUse { LengthCheck, Linger };

  static constexpr std::chrono::steady_clock::time_point kNoDeadline =
      std::chrono::steady_clock::time_point::max();

  // Sets the deadline the server's sweep enforces (read or write waiting on the peer).
  void SetDeadline(std::chrono::milliseconds after) {
    deadline_ = std::chrono::steady_clock::now() + after;
  }

  void ArmTimer(std::chrono::milliseconds after, TimerUse use) {
    deadline_ = kNoDeadline;
    const unsigned generation = ++timer_generation_;
    timer_armed_ = true;
    timer_.expires_after(after);
    timer_.async_wait([self = shared_from_this(), generation, use](const error_code& ec) {
      if (ec || generation != self->timer_generation_ || self->finished_) return;
      self->OnTimer(use);
    });
  }
  void DisarmTimer() {
    deadline_ = kNoDeadline;
    if (!timer_armed_) return;
    timer_armed_ = false;
    ++timer_generation_;
    timer_.cancel();
  }

  void OnTimer(TimerUse use) {
    switch (use) {
      case TimerUse::Linger:
        timed_out_ = true;
        Finish(false);
        break;
      case TimerUse::LengthCheck: {
        error_code ec;
        const std::size_t waiting = socket_.available(ec);
        Handle(reader_.FinishLengthCheck(!ec && waiting > 0));
        break;
      }
    }
  }

  // Once the peer's address is known: served within the per-peer cap (true), or answered 503.
  bool Admit() {
    peer_ = reader_.request().peer_address;
    if (!server_.AdmitPeer(peer_)) {
      peer_.clear();   // nothing to give back
      reading_ = false;
      WriteAndClose(OutParts(RenderHeader(TWebResponse::Error(503), 0)), false);
      return false;
    }
    admitted_ = true;
    return true;
  }

  // Whether the request, still being read, has fallen below the minimum rate: after the grace,
  // each second allowed needs min_bytes_per_second bytes received.
  bool TooSlow(std::chrono::steady_clock::time_point now) const {
    const std::uint64_t rate = server_.options.min_bytes_per_second;
    if (!reading_ || rate == 0) return false;
    const auto allowed = server_.options.min_rate_grace +
                         std::chrono::milliseconds(reader_.received_bytes() * 1000 / rate);
    return now - accepted_at_ > allowed;
  }

  void ReadMore() {
    auto wait = server_.options.idle_timeout;
    if (!reader_.HeadersComplete()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          header_deadline_ - std::chrono::steady_clock::now());
      wait = std::max(std::chrono::milliseconds(0), std::min(wait, left));
    }
    SetDeadline(wait);
    socket_.async_read_some(asio::buffer(buffer_),
                            [self = shared_from_this()](const error_code& ec, std::size_t n) {
                              self->OnRead(ec, n);
                            });
  }

  void OnRead(const error_code& ec, std::size_t n) {
    if (finished_) return;
    if (ec) {
      // End of stream, reset or abort by the peer: the connection ends quietly.
      Finish(false);
      return;
    }
    std::string_view bytes(buffer_.data(), n);
    if (proxy_header_ && !TakeProxyHeader(bytes)) return;
    const HttpRequestReader::Status status = reader_.Feed(bytes);
    std::string interim = reader_.TakeInterim();
    if (interim.empty()) {
      Handle(status);
      return;
    }
    interim_ = std::move(interim);
    asio::async_write(socket_, asio::buffer(interim_),
                      [self = shared_from_this(), status](const error_code& wec, std::size_t) {
                        if (self->finished_) return;
                        if (wec) {
                          self->Finish(false);
                          return;
                        }
                        self->Handle(status);
                      });
  }

  // From a trusted proxy, the PROXY header comes before the request. Returns true once it is
  // whole, with `bytes` cut to what follows it; otherwise it has read on or closed.
  bool TakeProxyHeader(std::string_view& bytes) {
    proxy_bytes_.append(bytes);
    const ProxyHeader h = ReadProxyHeader(proxy_bytes_);
    if (h.status == ProxyHeader::Status::Invalid) {
      Finish(false);
      return false;
    }
    if (h.status == ProxyHeader::Status::NeedMore) {
      ReadMore();
      return false;
    }
    if (h.source_address) reader_.request().peer_address = *h.source_address;
    proxy_header_ = false;
    bytes = bytes.substr(bytes.size() - (proxy_bytes_.size() - h.consumed));
    std::string().swap(proxy_bytes_);
    if (!Admit()) return false;
    if (!bytes.empty()) return true;
    ReadMore();
    return false;
  }

  void Handle(HttpRequestReader::Status status) {
    using S = HttpRequestReader::Status;
    switch (status) {
      case S::NeedMore:
        ReadMore();
        break;
      case S::LengthCheck:
        ArmTimer(server_.options.length_check_delay, TimerUse::LengthCheck);
        break;
      case S::Complete:
        StartDispatch();
        break;
      case S::Reject: {
        reading_ = false;
        WriteAndClose(OutParts(RenderHeader(TWebResponse::Error(reader_.reject_status()), 0)),
                      false);
        break;
      }
      case S::Close:
        Finish(false);
        break;
    }
  }

  void StartDispatch() {
    DisarmTimer();
    reading_ = false;
    reader_.request().received_at = std::chrono::steady_clock::now();
    dispatching_ = true;
    const bool large = reader_.received_bytes() > kSmallBodyBytes;
    (large ? server_.large_workers : server_.workers).Post([self = shared_from_this()] {
      self->RunDispatch();
    });
  }

  // A failed send of a dispatched response, to the server's sink (any thread).
  void ReportSendError(const error_code& ec) {
    if (server_.stopping || !server_.on_send_error) return;
    const error_code shown = timed_out_ ? error_code(asio::error::timed_out) : ec;
    try {
      server_.on_send_error(shown.message());
    } catch (...) {
      // A failing report must not take the caller down.
    }
  }

  // On a dispatch thread.
  void RunDispatch() {
    HttpExchange exchange(shared_from_this(), reader_.request());
    try {
      if (server_.on_command) server_.on_command(exchange);
    } catch (const std::exception& e) {
      FailExchange(exchange, e.what());
    } catch (...) {
      FailExchange(exchange, "Unknown error");
    }
    if (!exchange.HeaderWritten()) exchange.Write();
  }

  // An error that reached the listener: 500 with the error's text as the body, in the content
  // type set so far.
  static void FailExchange(HttpExchange& exchange, const std::string& message) {
    if (exchange.HeaderWritten()) return;
    TWebResponse& r = exchange.Response();
    r.SetStatusCode(500);
    r.SetContent(message);
  }

  // Writes bytes and closes; a failure is reported only for a dispatched response. The deadline
  // measures progress: it is set again each time the socket takes bytes.
  void WriteAndClose(OutParts out, bool report_errors) {
    if (finished_) return;   // closed by a stop meanwhile
    out_ = std::move(out);
    report_send_errors_ = report_errors;
    WriteMore();
  }

  // While a response is written, bytes leaving the socket's queue are progress too: a socket
  // whose queue is full takes nothing more until a good part of it has been sent.
  void NoteSendProgress() {
    const long long unsent = server_.platform.UnsentBytes(socket_);
    if (unsent < 0 || unsent == last_unsent_) return;
    last_unsent_ = unsent;
    SetDeadline(server_.options.send_progress_timeout);
  }

  void WriteMore() {
    writing_ = true;
    if (out_.Done()) {
      WriteDone();
      return;
    }
    SetDeadline(server_.options.send_progress_timeout);
    out_.AsyncWriteSome(socket_, [self = shared_from_this()](const error_code& ec, std::size_t n) {
      if (ec) {
        if (self->report_send_errors_) self->ReportSendError(ec);
        self->Finish(false);
        return;
      }
      self->out_.Consume(n);
      self->WriteMore();
    });
  }

  void WriteDone() {
    // Bytes the client sent beyond what was read would turn the close into a reset that can
    // destroy the answer on its way: drain them first.
    error_code aec;
    const bool unread = reader_.pending_bytes() > 0 ||
                        reader_.status() != HttpRequestReader::Status::Complete ||
                        socket_.available(aec) > 0;
    Finish(unread);
  }

  void Finish(bool linger) {
    std::unique_lock<std::mutex> lock(io_mutex_);
    if (finished_) return;
    if (linger && !lingering_) {
      lingering_ = true;
      error_code ec;
      socket_.shutdown(tcp::socket::shutdown_send, ec);
      if (!ec) {
        ArmTimer(kLingerTimeout, TimerUse::Linger);
        Drain();
        return;
      }
    }
    finished_ = true;
    DisarmTimer();
    error_code ec;
    socket_.close(ec);   // a close without a shutdown first: one system call less
    lock.unlock();
    LeavePeer();
    server_.Remove(shared_from_this());
  }

  // Gives the connection's place under the per-peer cap back (once).
  void LeavePeer() {
    if (admitted_.exchange(false)) server_.ReleasePeer(peer_);
  }

  void Drain() {
    socket_.async_read_some(asio::buffer(buffer_),
                            [self = shared_from_this()](const error_code& ec, std::size_t n) {
                              if (self->finished_) return;
                              self->drained_ += n;
                              if (ec || self->drained_ > kLingerMaxBytes) {
                                self->Finish(false);
                                return;
                              }
                              self->Drain();
                            });
  }

  friend class HttpExchange;

  // Declared first so that it is destroyed last: the stop waits for this count, and the
  // socket and timer must be gone before the event loop may end.
  struct EndToken {
    THttpServer::Impl* server;
    ~EndToken() { server->ConnectionEnded(); }
  } ended_;
  THttpServer::Impl& server_;
  tcp::socket socket_;
  asio::steady_timer timer_;
  unsigned timer_generation_ = 0;
  HttpRequestReader reader_;
  bool proxy_header_ = false;   // a PROXY header is due before the request
  std::string proxy_bytes_;     // what has come of it so far
  std::chrono::steady_clock::time_point accepted_at_;
  std::chrono::steady_clock::time_point header_deadline_;
  std::chrono::steady_clock::time_point deadline_ = kNoDeadline;   // idle or header deadline
  bool timer_armed_ = false;   // the own timer (length check, linger) has a wait pending
  std::array<char, kReadChunk> buffer_{};
  std::string interim_;   // a 100 Continue on its way
  OutParts out_;
  bool report_send_errors_ = false;
  bool writing_ = false;          // WriteMore is under way (event loop only)
  long long last_unsent_ = -1;
  std::size_t drained_ = 0;
  std::string peer_;                    // the address counted under the per-peer cap
  std::atomic<bool> admitted_{false};   // counted under it, not yet given back
  bool reading_ = true;                 // the request is being read (event loop only)
  bool dispatching_ = false;
  std::mutex io_mutex_;   // the socket's use by a dispatch thread against a stop (see QueueResponse)
  std::atomic<bool> finished_{false};
  bool lingering_ = false;
  bool timed_out_ = false;
};

void HttpExchange::Write() {
  if (written_) return;
  written_ = true;
  // The body bytes are moved into the buffer that goes out, never copied twice.
  connection_->QueueResponse(RenderResponseParts(response_));
}

void THttpServer::Impl::Accept(Listener& l) {
  if (stopping) return;
  if (Full()) {
    l.paused = true;   // resumed when a connection ends
    accept_paused = true;
    return;
  }
  l.acceptor.async_accept(l.peer, [this, &l](const error_code& ec, tcp::socket socket) {
    if (stopping || ec == asio::error::operation_aborted) return;
    if (ec) {
      AcceptFailed(l, ec);
      return;
    }
    Open(l, std::move(socket));
    // Then what else the kernel has queued, up to kAcceptBatch, in this same turn: taken one
    // per turn of the loop (each behind every read that is ready), a flood of connections fills
    // the queue and a collector's connection waits behind all of them, or is dropped.
    for (std::size_t n = 1; n < kAcceptBatch && !stopping; ++n) {
      if (Full()) break;   // Accept below pauses
      error_code aec;
      tcp::socket next(io);
      l.acceptor.accept(next, l.peer, aec);   // the acceptor is non-blocking
      if (aec == asio::error::would_block || aec == asio::error::try_again) break;
      if (aec) {
        AcceptFailed(l, aec);
        return;
      }
      Open(l, std::move(next));
    }
    Accept(l);
  });
}

bool THttpServer::Impl::Full() {
  std::lock_guard<std::mutex> lock(connections_mutex);
  return connections.size() >= max_connections;
}

void THttpServer::Impl::AcceptFailed(Listener& l, const error_code& ec) {
  // Out of descriptors or buffers: wait a little; anything else: go on accepting.
  if (ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space ||
      ec == asio::error::no_memory) {
    l.retry.expires_after(kAcceptRetryDelay);
    l.retry.async_wait([this, &l](const error_code& wec) {
      if (!wec) Accept(l);
    });
    return;
  }
  Accept(l);
}

void THttpServer::Impl::Open(Listener& l, tcp::socket socket) {
  {
    std::lock_guard<std::mutex> lock(count_mutex);
    ++count;
  }
  auto c = std::make_shared<Connection>(*this, std::move(socket));
  {
    std::lock_guard<std::mutex> lock(connections_mutex);
    connections.insert(c);
  }
  c->Start(l.peer, l.port);
}

void THttpServer::Impl::Sweep() {
  sweep.expires_after(sweep_period);
  sweep.async_wait([this](const error_code& ec) {
    if (ec || stopping) return;
    // Copy first: a connection that ends leaves the set.
    SweepFrom(std::make_shared<std::vector<std::shared_ptr<Connection>>>(OpenConnectionList()), 0,
              std::chrono::steady_clock::now());
  });
}

void THttpServer::Impl::SweepFrom(std::shared_ptr<std::vector<std::shared_ptr<Connection>>> list,
                                  std::size_t from, std::chrono::steady_clock::time_point now) {
  if (stopping) return;
  std::size_t ended = 0;
  std::size_t i = from;
  while (i < list->size() && ended < kSweepEndsPerTurn) {
    if ((*list)[i++]->CheckDeadline(now)) ++ended;
  }
  if (i < list->size()) {
    asio::post(io, [this, list = std::move(list), i, now]() mutable {
      SweepFrom(std::move(list), i, now);
    });
    return;
  }
  Sweep();
}

void THttpServer::Impl::Remove(const std::shared_ptr<Connection>& c) {
  {
    std::lock_guard<std::mutex> lock(connections_mutex);
    connections.erase(c);
  }
  if (accept_paused.exchange(false)) asio::post(io, [this] { ResumeAccepting(); });
}

void THttpServer::Impl::ResumeAccepting() {
  for (auto& l : listeners) {
    if (!l->paused) continue;
    l->paused = false;
    Accept(*l);   // pauses again when there is still no room
  }
}

// ---- THttpServer -----------------------------------------------------------------------------

THttpServer::THttpServer(HttpServerOptions options, INetPlatform* platform)
    : options_(std::move(options)), platform_(platform ? platform : &DefaultNetPlatform()) {}

THttpServer::~THttpServer() { Stop(); }

void THttpServer::Start() {
  if (impl_) return;
  std::vector<Binding> bindings = bindings_;
  if (bindings.empty()) {
    bindings.push_back({"0.0.0.0", default_port_});
    if (platform_->Ipv6Supported()) bindings.push_back({"::", default_port_});
  }

  std::size_t max_conn = options_.max_connections;
  if (max_conn == 0) {
    const long limit = platform_->RaiseDescriptorLimit();
    max_conn = limit < 0 ? kMaxConnectionsUnlimited
                         : static_cast<std::size_t>(std::max(16L, limit - kDescriptorReserve));
  }

  auto impl = std::make_unique<Impl>(options_, max_conn, on_command_, on_send_error_, *platform_);
  // Bind everything first: a failure leaves nothing listening (the acceptors close with impl).
  for (const Binding& b : bindings) {
    error_code ec;
    const asio::ip::address address = asio::ip::make_address(b.address, ec);
    if (ec) throw std::runtime_error("Could not bind socket. " + ec.message());
    const tcp::endpoint endpoint(address, b.port);
    auto l = std::make_unique<Listener>(impl->io);
    l->acceptor.open(endpoint.protocol(), ec);
    if (!ec) platform_->SetListenerReuse(l->acceptor, ec);
    if (!ec && address.is_v6()) l->acceptor.set_option(asio::ip::v6_only(true), ec);
    if (!ec) l->acceptor.bind(endpoint, ec);
    if (ec) {
      if (ec == asio::error::address_in_use) throw std::runtime_error(kBindInUseMessage);
      throw std::runtime_error("Could not bind socket. " + ec.message());
    }
    impl->listeners.push_back(std::move(l));
  }
  std::vector<unsigned short> ports;
  for (auto& l : impl->listeners) {
    error_code ec;
    l->port = l->acceptor.local_endpoint(ec).port();
    ports.push_back(l->port);
  }
  for (auto& l : impl->listeners) {
    error_code ec;
    l->acceptor.listen(options_.backlog, ec);
    if (!ec) l->acceptor.non_blocking(true, ec);   // for the accepts after the first of a turn
    if (ec) throw std::runtime_error("Could not bind socket. " + ec.message());
  }
  max_connections_ = max_conn;
  bound_ports_ = std::move(ports);
  Impl* raw = impl.get();
  for (auto& l : raw->listeners) {
    Listener* lp = l.get();
    asio::post(raw->io, [raw, lp] { raw->Accept(*lp); });
  }
  // A quarter of the shortest deadline, so that one passes at most a quarter late.
  raw->sweep_period = std::clamp(
      std::min({options_.idle_timeout, options_.header_timeout,
                options_.send_progress_timeout, options_.min_rate_grace}) / 4,
      std::chrono::milliseconds(kMinSweepPeriodMs), std::chrono::milliseconds(kMaxSweepPeriodMs));
  asio::post(raw->io, [raw] { raw->Sweep(); });
  raw->loop = std::thread([raw] {
    util::platform::NameCurrentThread("orv-rede");
    auto guard = asio::make_work_guard(raw->io);
    raw->io.run();
  });
  impl_ = std::move(impl);
}

void THttpServer::Stop() {
  if (!impl_) return;
  Impl* raw = impl_.get();
  raw->stopping = true;
  asio::post(raw->io, [raw] {
    for (auto& l : raw->listeners) {
      error_code ec;
      l->acceptor.close(ec);
      l->retry.cancel();
    }
    raw->sweep.cancel();
    // Copy first: aborting removes from the set.
    for (const auto& c : raw->OpenConnectionList()) c->Abort();
  });
  {
    std::unique_lock<std::mutex> lock(raw->count_mutex);
    raw->count_changed.wait(lock, [raw] { return raw->count == 0; });
  }
  raw->io.stop();
  raw->loop.join();
  impl_.reset();
}

std::vector<unsigned short> THttpServer::BoundPorts() const {
  return impl_ ? bound_ports_ : std::vector<unsigned short>();
}

std::size_t THttpServer::OpenConnections() const {
  if (!impl_) return 0;
  std::lock_guard<std::mutex> lock(impl_->count_mutex);
  return impl_->count;
}

}  // namespace orv::host
