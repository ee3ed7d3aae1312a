#include "soap/publish/base_url.h"

namespace orv::soap::publish {

std::string BaseUrl(std::string_view host, std::string_view server_port) {
  std::string url = "http://";
  url += host;
  if (server_port != "80") {
    url += ':';
    url += server_port;
  }
  return url;
}

std::string BaseUrlFromHostHeader(std::string_view host_header, int arrival_port) {
  const auto colon = host_header.find(':');
  if (colon == std::string_view::npos) {
    return BaseUrl(host_header, std::to_string(arrival_port));
  }
  return BaseUrl(host_header.substr(0, colon), host_header.substr(colon + 1));
}

}  // namespace orv::soap::publish
