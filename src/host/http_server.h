// The HTTP listener (the main window's FServer): listening sockets on the IPv4 and IPv6
// any-address, an event loop that accepts connections and reads one request from each, and a
// pool of dispatch threads that hand each complete request to the command handler. A dispatch
// thread writes its response itself when the socket takes it at once, and the event loop
// writes the rest otherwise. Every response closes its connection (no keep-alive).
//
// Thread safety: Start, Stop, the setters and the destructor are called from one controlling
// thread (the main thread). The command handler runs on dispatch threads, many at once; the
// send-error sink runs on the event-loop thread or a dispatch thread, must be safe to call
// from both and must not block.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/http_limits.h"
#include "host/http_request.h"
#include "host/http_response.h"

namespace orv::host {

class INetPlatform;
class Connection;

// One listening address and port.
struct Binding {
  std::string address;   // "0.0.0.0", "::", "127.0.0.1", ...
  unsigned short port = 0;
};

struct HttpServerOptions {
  int backlog = kListenBacklog;
  std::chrono::milliseconds idle_timeout = kIdleTimeout;
  // From the connection's acceptance to the end of the request's headers.
  std::chrono::milliseconds header_timeout = kHeaderTimeout;
  std::chrono::milliseconds length_check_delay = kLengthCheckDelay;
  // While the response is written: the longest time without a byte taken by the socket.
  std::chrono::milliseconds send_progress_timeout = kSendProgressTimeout;
  // While the request is read: its average rate after the grace (0: no minimum).
  std::uint64_t min_bytes_per_second = kMinRequestBytesPerSecond;
  std::chrono::milliseconds min_rate_grace = kMinRateGrace;
  ReaderLimits limits;   // without a budget, the server's own (kMaxBufferedRequestBytes) is used
  // Cap on simultaneous connections; 0: the descriptor limit less kDescriptorReserve.
  std::size_t max_connections = 0;
  // Cap on simultaneous connections from one peer address (0: none).
  std::size_t max_connections_per_peer = kMaxConnectionsPerPeer;
  std::size_t max_dispatch_threads = kMaxDispatchThreads;
  // Requests dispatched at once before a later one waits (0: kDispatchAtOncePerCore per core,
  // at least kMinDispatchAtOnce), and how long one runs before it gives its place up.
  std::size_t dispatch_at_once = 0;
  std::chrono::milliseconds dispatch_stall_delay = kDispatchStallDelay;
  // Addresses of trusted proxies, as PeerAddressText writes them (ParseTrustedProxies). A
  // connection from one of them must begin with a PROXY header, whose client address becomes
  // the peer address; without a valid header it is closed without a response. Empty: no
  // connection is read for a header.
  std::vector<std::string> trusted_proxies;
};

// One request and its response, handed to the command handler on a dispatch thread.
class HttpExchange {
 public:
  // The request as the reader and the connection filled it; the command handler may move its
  // body out.
  TWebRequest& Request() { return request_; }
  const TWebRequest& Request() const { return request_; }
  TWebResponse& Response() { return response_; }
  bool HeaderWritten() const { return written_; }
  // Writes the response (one buffered write of header and body), once; the connection closes
  // after. Returns at once: the bytes are sent by the event loop. The response's SendResponse
  // comes here.
  void Write();

 private:
  friend class Connection;
  HttpExchange(std::shared_ptr<Connection> connection, TWebRequest& request)
      : connection_(std::move(connection)),
        request_(request),
        response_(request.ProtocolVersion(), [this] { Write(); }) {}
  HttpExchange(const HttpExchange&) = delete;
  HttpExchange& operator=(const HttpExchange&) = delete;

  std::shared_ptr<Connection> connection_;
  TWebRequest& request_;
  TWebResponse response_;
  bool written_ = false;
};

using CommandHandler = std::function<void(HttpExchange&)>;
using SendErrorSink = std::function<void(const std::string& message)>;

// Message of a failed start when the port is taken.
inline constexpr const char* kBindInUseMessage =
    "Could not bind socket. Address and port are already in use.";

class THttpServer {
 public:
  explicit THttpServer(HttpServerOptions options = {}, INetPlatform* platform = nullptr);
  ~THttpServer();   // stops when active
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Bindings to listen on; with none, Start uses the IPv4 and (when supported) IPv6
  // any-address on DefaultPort().
  std::vector<Binding>& Bindings() { return bindings_; }
  void ClearBindings() { bindings_.clear(); }
  unsigned short DefaultPort() const { return default_port_; }
  void SetDefaultPort(unsigned short port) { default_port_ = port; }

  void SetOnCommand(CommandHandler handler) { on_command_ = std::move(handler); }
  void SetOnSendError(SendErrorSink sink) { on_send_error_ = std::move(sink); }

  // Binds every binding and starts listening, or raises std::runtime_error with nothing
  // listening.
  void Start();
  // Closes the listening sockets and every connection, then waits until every connection
  // (a dispatch in progress included) has ended.
  void Stop();
  bool Active() const { return impl_ != nullptr; }
  void SetActive(bool active) { active ? Start() : Stop(); }

  // The ports actually bound, one per binding (useful with port 0).
  std::vector<unsigned short> BoundPorts() const;
  // Connections open right now.
  std::size_t OpenConnections() const;
  // The cap on simultaneous connections in force (after Start).
  std::size_t MaxConnections() const { return max_connections_; }

  struct Impl;   // the running listener (defined in the source file)

 private:
  HttpServerOptions options_;
  INetPlatform* platform_;
  std::vector<Binding> bindings_;
  unsigned short default_port_ = 80;
  CommandHandler on_command_;
  SendErrorSink on_send_error_;
  std::size_t max_connections_ = 0;
  std::vector<unsigned short> bound_ports_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orv::host
