// The installation folder and the reading of SCONF.xml.
#include "data/config/configuracao.h"

#include <system_error>
#include <vector>

#include "data/config/datapacket.h"
#include "data/config/sconf.h"
#include "util/platform.h"
#include "util/text.h"

namespace orv::data {

namespace {

bool IsBlank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

// Splits a list as PATH is split: items end at the delimiter or at a blank, an item in double
// quotes may hold both (a doubled quote stands for one), a delimiter at the very end adds an
// empty item.
std::vector<std::string> SplitList(std::string_view s, char delimiter) {
  std::vector<std::string> items;
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n && IsBlank(s[i])) ++i;
  while (i < n) {
    std::string item;
    if (s[i] == '"') {
      for (++i; i < n; ++i) {
        if (s[i] != '"') {
          item += s[i];
        } else if (i + 1 < n && s[i + 1] == '"') {
          item += '"';
          ++i;
        } else {
          ++i;
          break;
        }
      }
    } else {
      const std::size_t start = i;
      while (i < n && s[i] != delimiter && static_cast<unsigned char>(s[i]) > 32) ++i;
      if (i == start && s[i] != delimiter) {
        ++i;   // a NUL character: a separator, so that the scan always moves on
        continue;
      }
      item.assign(s.substr(start, i - start));
    }
    items.push_back(std::move(item));
    while (i < n && IsBlank(s[i])) ++i;
    if (i < n && s[i] == delimiter) {
      if (i == n - 1) items.emplace_back();
      ++i;
      while (i < n && IsBlank(s[i])) ++i;
    }
  }
  return items;
}

std::string CannotOpen(const std::string& path, const std::string& reason) {
  return "Cannot open file \"" + path + "\". " + reason;
}

}  // namespace

std::string ObterPastaSistema(std::string_view path_value, char list_separator,
                              char folder_separator) {
  for (const std::string& item : SplitList(path_value, list_separator)) {
    if (util::AsciiLower(item).find("orvalen") == std::string::npos) continue;
    std::string folder;
    for (const std::string& component : SplitList(item, folder_separator)) {
      folder += component;
      if (util::AsciiLower(component) == "orvalen") break;
      folder += folder_separator;
    }
    return folder;
  }
  throw std::runtime_error(kMsgSemPastaSistema);
}

std::string ObterPastaSistema(util::Env& env) {
  return ObterPastaSistema(env.EnvironmentVariable("PATH").value_or(std::string()),
                           util::platform::kPathListSeparator,
                           util::platform::kFolderSeparator);
}

ConfigConexao LerConfiguracao(const std::string& User, const std::string& PassWd,
                              util::Env& env) {
  try {
    const std::string path =
        ObterPastaSistema(env) + util::platform::kFolderSeparator + kNomeArquivoConfig;
    const util::ReadResult file = env.ReadFile(path, kTamanhoMaximoConfig);
    switch (file.status) {
      case util::ReadStatus::kOk: break;
      case util::ReadStatus::kNotFound:
        throw std::runtime_error(std::string(kNomeTabelaSconf) + ": " + kMsgMissingPacket);
      case util::ReadStatus::kCannotOpen:
        throw std::runtime_error(CannotOpen(path, file.error.message()));
      case util::ReadStatus::kTooLarge:
        throw std::runtime_error(
            CannotOpen(path, std::make_error_code(std::errc::file_too_large).message()));
    }
    return DecodificarSconf(file.bytes, User, PassWd);
  } catch (const std::exception& e) {
    throw ConfigError(kPrefixoErroConfig + std::string(e.what()));
  }
}

}  // namespace orv::data
