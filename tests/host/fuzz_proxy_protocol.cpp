// Fuzzes the PROXY header reader: read whole and as the bytes arrive in pieces, it must reach
// the same outcome (the connection stops at the first answer that is not "need more"); a whole
// header stays within its bounds and reads the same from exactly its own bytes; a reported
// address is a plain IP address. The same bytes also go through the trusted-proxy list reader.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include <boost/asio/ip/address.hpp>

#include "host/http_limits.h"
#include "host/proxy_protocol.h"

using orv::host::ProxyHeader;
using orv::host::ReadProxyHeader;
using Status = ProxyHeader::Status;

namespace {

bool Same(const ProxyHeader& a, const ProxyHeader& b) {
  return a.status == b.status && a.consumed == b.consumed && a.source_address == b.source_address &&
         a.source_port == b.source_port;
}

void CheckAddress(const std::string& text) {
  boost::system::error_code ec;
  const auto a = boost::asio::ip::make_address(text, ec);
  if (ec || (a.is_v6() && a.to_v6().is_v4_mapped()) || orv::host::PeerAddressText(a) != text) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t step = 1 + data[0] % 13;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

  const ProxyHeader whole = ReadProxyHeader(input);
  if (whole.status == Status::Done) {
    if (whole.consumed == 0 || whole.consumed > input.size()) std::abort();
    if (whole.consumed > orv::host::kMaxProxyHeaderBytes) std::abort();
    if (whole.version == 1 && whole.consumed > orv::host::kProxyV1MaxLine) std::abort();
    if (!Same(ReadProxyHeader(input.substr(0, whole.consumed)), whole)) std::abort();
    if (ReadProxyHeader(input.substr(0, whole.consumed - 1)).status != Status::NeedMore) std::abort();
    if (whole.source_address) CheckAddress(*whole.source_address);
  }
  // As a connection reads it: more bytes each time, until an answer.
  ProxyHeader pieces;
  for (std::size_t n = 0; pieces.status == Status::NeedMore && n < input.size();) {
    n = std::min(input.size(), n + step);
    pieces = ReadProxyHeader(input.substr(0, n));
  }
  if (!Same(pieces, whole)) std::abort();

  try {
    for (const std::string& a : orv::host::ParseTrustedProxies(input)) CheckAddress(a);
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
