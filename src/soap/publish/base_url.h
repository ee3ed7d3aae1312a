// The base URL of a request, from which every published address is made: "http://", the
// host, and ":" with the port unless the port is 80. Nothing follows (the service has no
// script path).
//
// Thread safety: pure functions, any thread.
#pragma once

#include <string>
#include <string_view>

namespace orv::soap::publish {

// `host` is the Host header up to its first ":"; `server_port` is the Host header's part after
// that ":" or, without one, the port the request arrived on.
std::string BaseUrl(std::string_view host, std::string_view server_port);

// The same from the raw Host header and the arrival port.
std::string BaseUrlFromHostHeader(std::string_view host_header, int arrival_port);

}  // namespace orv::soap::publish
