#include "soap/publish/port_file.h"

#include <algorithm>
#include <stdexcept>

#include "soap/publish/publish_limits.h"
#include "util/platform.h"
#include "util/text.h"

namespace orv::soap::publish {
namespace {

std::string_view Trim(std::string_view s) {
  constexpr std::string_view kBlank = " \t\r\n";
  const auto first = s.find_first_not_of(kBlank);
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = s.find_last_not_of(kBlank);
  return s.substr(first, last - first + 1);
}

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
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  if (ini_text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    ini_text.remove_prefix(kUtf8Bom.size());
  }
  std::optional<std::vector<PortAddress>> found;
  bool inside = false;
  while (!ini_text.empty()) {
    const auto eol = ini_text.find('\n');
    const std::string_view line = Trim(ini_text.substr(0, eol));
    ini_text.remove_prefix(eol == std::string_view::npos ? ini_text.size() : eol + 1);

    if (line.empty() || line.front() == ';') {
      continue;
    }
    if (line.front() == '[') {
      if (found) {
        break;  // only the first section of that name counts
      }
      const auto close = line.find(']');
      const std::string_view name = Trim(line.substr(1, close == std::string_view::npos
                                                            ? std::string_view::npos
                                                            : close - 1));
      inside = util::AsciiIEquals(name, section);
      if (inside) {
        found.emplace();
      }
      continue;
    }
    if (!inside) {
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) {
      continue;
    }
    found->push_back(
        PortAddress{std::string(Trim(line.substr(0, eq))), std::string(Trim(line.substr(eq + 1)))});
  }
  return found;
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
