// The PROXY protocol header that a load balancer (HAProxy's send-proxy and send-proxy-v2,
// nginx's proxy_protocol) puts before the client's bytes: version 1 (one text line) and
// version 2 (binary). It reports the address of the client the balancer serves, which then
// stands for the peer address of the connection. It knows no sockets: the connection hands it
// every byte received so far and it answers whether the header is whole.
//
// What the header may say:
// - version 1 "TCP4" / "TCP6" and version 2 PROXY over IPv4 / IPv6: the source address;
// - version 1 "UNKNOWN", version 2 LOCAL (the balancer's own health checks) and version 2
//   PROXY with the unspecified family: no address, the connection's own peer stays;
// - anything else (a family with no IP address, an unknown family, command or version, a
//   malformed or oversized header): invalid.
//
// Thread safety: pure functions, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/ip/address.hpp>

namespace orv::host {

struct ProxyHeader {
  enum class Status {
    NeedMore,  // a prefix of a header: wait for more bytes
    Done,      // a whole header of `consumed` bytes
    Invalid,   // not a header, or one that must not be accepted: close the connection
  };
  Status status = Status::NeedMore;
  int version = 0;             // 1 or 2 once known
  std::size_t consumed = 0;    // bytes of the header, when Done
  // The client's address as the peer address is written ("10.0.0.5", "2001:db8::1"); none
  // when the header carries no address (the connection's own peer stays).
  std::optional<std::string> source_address;
  std::uint16_t source_port = 0;
};

// Reads the header at the start of `bytes` (everything received on the connection so far).
// Never looks past kMaxProxyHeaderBytes: a header that needs more is invalid.
ProxyHeader ReadProxyHeader(std::string_view bytes);

// An address as peer addresses are written: an IPv4-mapped IPv6 address as plain IPv4.
std::string PeerAddressText(const boost::asio::ip::address& address);

// The trusted proxies' addresses from a comma-separated list ("10.0.0.1, ::1"), each as
// PeerAddressText writes it; blanks around entries and empty entries are ignored. Throws
// std::invalid_argument naming the first entry that is not an IP address.
std::vector<std::string> ParseTrustedProxies(std::string_view list);

}  // namespace orv::host
