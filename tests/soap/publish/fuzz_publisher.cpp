// Fuzzes the publisher with arbitrary request paths, Host headers and port address files:
// every answer must be built without crashing, and every WSDL document must stay one line of
// the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "soap/publish/port_file.h"
#include "soap/publish/wsdl_publisher.h"
#include "soap/orvws_intf.h"
#include "soap/registry.h"
#include "util/mem_env.h"

namespace {

using namespace orv::soap;
using namespace orv::soap::publish;

const InterfaceRegistry& ServiceRegistry() {
  static InterfaceRegistry* registry = [] {
    auto* r = new InterfaceRegistry;
    RegisterWSDLPublish(*r);
    RegisterOrvWsInterface(*r);
    return r;
  }();
  return *registry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Input: path, "\n", host, "\n", port file text.
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const auto first = in.find('\n');
  const std::string_view path = in.substr(0, first);
  std::string_view rest = first == std::string_view::npos ? std::string_view() : in.substr(first + 1);
  const auto second = rest.find('\n');
  const std::string_view host = rest.substr(0, second);
  const std::string_view ini = second == std::string_view::npos ? std::string_view() : rest.substr(second + 1);

  orv::util::MemEnv files;
  files.PutFile("OrvWs_WSDLADMIN.INI", std::string(ini));
  PublisherSettings settings;
  settings.program_name = "OrvWs";
  settings.port_file = "OrvWs_WSDLADMIN.INI";
  settings.env = &files;

  const PageReply reply = PublisherReply(path, "http://" + std::string(host), ServiceRegistry(), settings);
  if (reply.content_type == "text/xml" &&
      (reply.body.size() < 2 || reply.body.compare(reply.body.size() - 2, 2, "\r\n") != 0)) {
    std::abort();
  }
  (void)PortsFromIni(ini, path);
  (void)ServiceInfoReply(path, "http://" + std::string(host), host, "1", ServiceRegistry(), settings);
  return 0;
}
