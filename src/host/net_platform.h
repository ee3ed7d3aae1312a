// The listener's few operating-system calls: the open-descriptor limit, IPv6 availability, the
// address-reuse setting of listening sockets and the bytes a socket has yet to send. Behind an interface so tests can stand in
// for the operating system.
//
// Thread safety: the default platform's calls may be made from any thread.
#pragma once

#include <boost/asio/ip/tcp.hpp>

namespace orv::host {

class INetPlatform {
 public:
  virtual ~INetPlatform() = default;
  // Raises the open-descriptor soft limit to the hard limit and returns the soft limit in
  // force afterwards; -1 when the system has no such limit.
  virtual long RaiseDescriptorLimit() = 0;
  // Whether the host's network stack can open IPv6 sockets.
  virtual bool Ipv6Supported() = 0;
  // Sets the address-reuse option of a listening socket before it is bound: SO_REUSEADDR on
  // POSIX systems (it only allows rebinding over connections left in TIME_WAIT, so an operator
  // can stop and start at once), exclusive use on Windows (where SO_REUSEADDR would allow
  // another process to take the port).
  virtual void SetListenerReuse(boost::asio::ip::tcp::acceptor& acceptor,
                                boost::system::error_code& ec) = 0;
  // Bytes written to the socket that the peer has not yet acknowledged; -1 when the system
  // cannot tell. A response's progress shows here while the socket is too full to take more.
  virtual long long UnsentBytes(boost::asio::ip::tcp::socket& socket) = 0;
};

// The real operating system.
INetPlatform& DefaultNetPlatform();

}  // namespace orv::host
