// A registry laid out as the service's own start-up lays it out (IWSDLPublish with its class,
// then IOrvWs bound to a stand-in TOrvWs), and settings for a program named OrvWs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "soap/publish/platform.h"
#include "soap/publish/wsdl_publisher.h"
#include "soap/orvws_intf.h"
#include "soap/registry.h"

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

// A file reader whose answer the test chooses: a fixed text, "no file", or a failure.
class ScriptedFiles final : public IFileReader {
 public:
  enum class Mode { kText, kMissing, kFail };
  explicit ScriptedFiles(Mode mode, std::string text = {}) : mode_(mode), text_(std::move(text)) {}

  std::optional<std::string> ReadWhole(const std::string& path) const override {
    last_path = path;
    switch (mode_) {
      case Mode::kText: return text_;
      case Mode::kMissing: return std::nullopt;
      case Mode::kFail: break;
    }
    throw std::runtime_error("Cannot open " + path);
  }

  mutable std::string last_path;

 private:
  Mode mode_;
  std::string text_;
};

inline PublisherSettings OrvWsSettings(std::shared_ptr<const IFileReader> files) {
  PublisherSettings s;
  s.program_name = "OrvWs";
  s.port_file = "/srv/orvws/OrvWs_WSDLADMIN.INI";
  s.files = std::move(files);
  return s;
}

}  // namespace orv::soap::publish::testing
