// PROXY protocol header reader, versions 1 and 2.
#include "host/proxy_protocol.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/address_v6.hpp>

#include "host/http_limits.h"
#include "util/text.h"

namespace orv::host {
namespace {

namespace ip = boost::asio::ip;
using Status = ProxyHeader::Status;

constexpr std::string_view kV1Prefix = "PROXY ";
constexpr std::string_view kV2Signature{"\r\n\r\n\0\r\nQUIT\n", 12};
// Version 2: signature, version and command, family and transport, length of what follows.
constexpr std::size_t kV2FixedBytes = 16;
// Address blocks of version 2: two addresses and two ports.
constexpr std::size_t kV2Inet4Bytes = 12;
constexpr std::size_t kV2Inet6Bytes = 36;

ProxyHeader Invalid(int version) {
  ProxyHeader h;
  h.status = Status::Invalid;
  h.version = version;
  return h;
}

// Whether `bytes` and `prefix` agree on their common length.
bool AgreesWith(std::string_view bytes, std::string_view prefix) {
  const std::size_t n = std::min(bytes.size(), prefix.size());
  return bytes.substr(0, n) == prefix.substr(0, n);
}

// A decimal port: one to five digits, no sign, at most 65535.
std::optional<std::uint16_t> ParsePort(std::string_view s) {
  if (s.empty() || s.size() > 5) return std::nullopt;
  if (s.size() > 1 && s.front() == '0') return std::nullopt;
  std::uint32_t v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (v > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(v);
}

// An address of the given family in its usual text form; scope ids ("%eth0") are refused,
// since a balancer never reports one for a client.
std::optional<ip::address> ParseAddress(std::string_view s, bool v6) {
  if (s.empty() || s.find('%') != std::string_view::npos) return std::nullopt;
  boost::system::error_code ec;
  const std::string text(s);
  if (v6) {
    const ip::address_v6 a = ip::make_address_v6(text, ec);
    if (ec) return std::nullopt;
    return ip::address(a);
  }
  const ip::address_v4 a = ip::make_address_v4(text, ec);
  if (ec) return std::nullopt;
  return ip::address(a);
}

// "PROXY TCP4 <src> <dst> <sport> <dport>\r\n", "PROXY TCP6 ...", "PROXY UNKNOWN[ ...]\r\n",
// single spaces, at most kProxyV1MaxLine bytes with the CR LF.
ProxyHeader ReadV1(std::string_view bytes) {
  const std::string_view window = bytes.substr(0, kProxyV1MaxLine);
  const std::size_t cr = window.find('\r');
  const std::size_t lf = window.find('\n');
  if (lf < cr || (cr != std::string_view::npos && cr + 2 > kProxyV1MaxLine)) return Invalid(1);
  if (cr == std::string_view::npos || cr + 1 == bytes.size()) {
    if (window.size() >= kProxyV1MaxLine) return Invalid(1);
    ProxyHeader h;
    h.version = 1;
    return h;   // the line's end has yet to come
  }
  if (bytes[cr + 1] != '\n') return Invalid(1);
  const std::string_view line = bytes.substr(kV1Prefix.size(), cr - kV1Prefix.size());

  std::array<std::string_view, 6> fields;
  std::size_t count = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t space = line.find(' ', start);
    const std::string_view f = line.substr(start, space == std::string_view::npos ? space : space - start);
    if (count == 0 && f == "UNKNOWN") {
      // Whatever follows is to be ignored: the connection's own endpoints stand.
      ProxyHeader h;
      h.status = Status::Done;
      h.version = 1;
      h.consumed = cr + 2;
      return h;
    }
    if (f.empty() || count == fields.size()) return Invalid(1);
    fields[count++] = f;
    if (space == std::string_view::npos) break;
    start = space + 1;
  }
  if (count != fields.size() - 1) return Invalid(1);
  const bool v6 = fields[0] == "TCP6";
  if (!v6 && fields[0] != "TCP4") return Invalid(1);
  const auto source = ParseAddress(fields[1], v6);
  const auto port = ParsePort(fields[3]);
  if (!source || !ParseAddress(fields[2], v6) || !port || !ParsePort(fields[4])) return Invalid(1);
  ProxyHeader h;
  h.status = Status::Done;
  h.version = 1;
  h.consumed = cr + 2;
  h.source_address = PeerAddressText(*source);
  h.source_port = *port;
  return h;
}

std::uint16_t Be16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(b[at]) << 8) |
                                    static_cast<unsigned char>(b[at + 1]));
}

ProxyHeader ReadV2(std::string_view bytes) {
  if (bytes.size() < kV2FixedBytes) {
    ProxyHeader h;
    h.version = 2;
    return h;
  }
  const auto version_command = static_cast<unsigned char>(bytes[12]);
  const auto family_transport = static_cast<unsigned char>(bytes[13]);
  const std::size_t length = Be16(bytes, 14);
  const unsigned version = version_command >> 4;
  const unsigned command = version_command & 0x0F;   // 0 LOCAL, 1 PROXY
  const unsigned family = family_transport >> 4;     // 0 unspecified, 1 IPv4, 2 IPv6, 3 UNIX
  const unsigned transport = family_transport & 0x0F;   // 0 unspecified, 1 stream, 2 datagram
  if (version != 2 || command > 1 || family > 3 || transport > 2) return Invalid(2);
  if (kV2FixedBytes + length > kMaxProxyHeaderBytes) return Invalid(2);
  if (command == 1 && family == 3) return Invalid(2);   // a UNIX socket has no IP address
  const std::size_t need = command == 1 && family == 1   ? kV2Inet4Bytes
                           : command == 1 && family == 2 ? kV2Inet6Bytes
                                                         : 0;
  if (length < need) return Invalid(2);
  if (bytes.size() < kV2FixedBytes + length) {
    ProxyHeader h;
    h.version = 2;
    return h;
  }
  ProxyHeader h;
  h.status = Status::Done;
  h.version = 2;
  h.consumed = kV2FixedBytes + length;   // type-length-value fields after the addresses ignored
  const std::string_view a = bytes.substr(kV2FixedBytes, need);
  if (need == kV2Inet4Bytes) {
    ip::address_v4::bytes_type src;
    std::copy_n(a.begin(), src.size(), reinterpret_cast<char*>(src.data()));
    h.source_address = PeerAddressText(ip::address_v4(src));
    h.source_port = Be16(a, 8);
  } else if (need == kV2Inet6Bytes) {
    ip::address_v6::bytes_type src;
    std::copy_n(a.begin(), src.size(), reinterpret_cast<char*>(src.data()));
    h.source_address = PeerAddressText(ip::address_v6(src));
    h.source_port = Be16(a, 32);
  }
  return h;
}

}  // namespace

ProxyHeader ReadProxyHeader(std::string_view bytes) {
  if (bytes.empty()) return {};
  if (AgreesWith(bytes, kV1Prefix)) {
    if (bytes.size() < kV1Prefix.size()) return {};
    return ReadV1(bytes);
  }
  if (AgreesWith(bytes, kV2Signature)) {
    if (bytes.size() < kV2Signature.size()) return {};
    return ReadV2(bytes);
  }
  return Invalid(0);
}

std::string PeerAddressText(const ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return ip::make_address_v4(ip::v4_mapped, address.to_v6()).to_string();
  return address.to_string();
}

std::vector<std::string> ParseTrustedProxies(std::string_view list) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    const std::string_view entry = util::TrimBlanks(list.substr(start, comma - start));
    start = comma + 1;
    if (entry.empty()) continue;
    boost::system::error_code ec;
    const ip::address a = ip::make_address(std::string(entry), ec);
    if (ec || entry.find('%') != std::string_view::npos)
      throw std::invalid_argument("Endereço de proxy confiável inválido: " + std::string(entry));
    const std::string text = PeerAddressText(a);
    if (std::find(out.begin(), out.end(), text) == out.end()) out.push_back(text);
  }
  return out;
}

}  // namespace orv::host
