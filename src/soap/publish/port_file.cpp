#include "soap/publish/port_file.h"

#include <algorithm>
#include <stdexcept>

#include "soap/publish/publish_limits.h"
#include "util/ini.h"
#include "util/platform.h"

namespace orv::soap::publish {
namespace {

}  // namespace

std::string PortFilePath(std::string_view executable_path) {
  const auto sep = executable_path.find_last_of(util::platform::kFolderSeparators);
  const std::size_t name_start = sep == std::string_view::npos ? 0 : sep + 1;
  const auto dot = executable_path.rfind('.');
  std::string_view stem = executable_path;
  if (dot != std::string_view::npos && dot >= name_start) {
    stem = executable_path.substr(0, dot);
  }
  return std::string(stem) + std::string(kPortFileSuffix);
}

std::optional<std::vector<PortAddress>> PortsFromIni(std::string_view ini_text,
                                                     std::string_view section) {
  std::optional<util::IniEntries> entries = util::IniSection(util::ParseIni(ini_text), section);
  if (!entries) {
    return std::nullopt;
  }
  std::vector<PortAddress> ports;
  for (auto& [name, address] : *entries) {
    ports.push_back(PortAddress{std::move(name), std::move(address)});
  }
  return ports;
}

std::vector<PortAddress> PortsFor(util::Env& env, const std::string& port_file,
                                  std::string_view typed_name, std::string_view base_url) {
  if (port_file.empty()) {
    return {DefaultPort(typed_name, base_url)};
  }
  const util::ReadResult file = env.ReadFile(port_file, kMaxPortFileBytes);
  switch (file.status) {
    case util::ReadStatus::kOk: {
      std::optional<std::vector<PortAddress>> ports = PortsFromIni(file.bytes, typed_name);
      if (ports && !ports->empty()) {
        return std::move(*ports);
      }
      break;
    }
    case util::ReadStatus::kNotFound:
      break;
    case util::ReadStatus::kTooLarge:
      throw std::runtime_error("Cannot read " + port_file + ": file too large");
    case util::ReadStatus::kCannotOpen:
      throw std::runtime_error("Cannot open " + port_file + ": " + file.error.message());
  }
  return {DefaultPort(typed_name, base_url)};
}

}  // namespace orv::soap::publish
