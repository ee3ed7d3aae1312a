// A registry laid out as the service's own start-up lays it out (IWSDLPublish with its class,
// then IOrvWs bound to a stand-in TOrvWs), and settings for a program named OrvWs whose port
// address file lives in an Env the test chooses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "soap/publish/wsdl_publisher.h"
#include "soap/orvws_intf.h"
#include "soap/registry.h"
#include "util/faulty_env.h"

namespace orv::soap::publish::testing {

class StandInOrvWs final : public IOrvWs {
 public:
  bool Auth(const std::string&, const std::string&) override { return false; }
  std::string Exec(const std::string&) override { return {}; }
  std::string GetSQL(const std::string&) override { return {}; }
  std::string AddItemPesquisa(std::int32_t, std::int32_t, const std::string&, float) override {
    return {};
  }
};

inline void FillServiceRegistry(InterfaceRegistry& registry) {
  RegisterWSDLPublish(registry);
  RegisterOrvWsInterface(registry);
  registry.RegisterInvokableClass(MakeInvokableClass<StandInOrvWs, IOrvWs>(std::string(kOrvWsClassName)));
}

// Where the settings below look for the port address file.
inline constexpr std::string_view kPortFile = "/srv/orvws/OrvWs_WSDLADMIN.INI";

// The settings of a program named OrvWs, its port address file read through `env`.
inline PublisherSettings OrvWsSettings(util::Env& env) {
  PublisherSettings s;
  s.program_name = "OrvWs";
  s.port_file = std::string(kPortFile);
  s.env = &env;
  return s;
}

// A port address file that cannot be opened (on `env`).
inline void PortFileUnreadable(util::FaultyEnv& env) {
  env.FailReads(std::string(kPortFile),
                util::ReadResult{util::ReadStatus::kCannotOpen, {},
                                 std::make_error_code(std::errc::permission_denied)});
}

}  // namespace orv::soap::publish::testing
