#include "soap/publish/platform.h"

#include <stdexcept>
#include <typeinfo>

#include "soap/publish/publish_limits.h"
#include "util/platform.h"

#if !defined(_MSC_VER)
#include <cxxabi.h>

#include <cstdlib>
#endif

namespace orv::soap::publish {
namespace {

class SystemReader final : public IFileReader {
 public:
  std::optional<std::string> ReadWhole(const std::string& path) const override {
    util::platform::ReadResult r = util::platform::ReadWholeFile(path, kMaxPortFileBytes);
    switch (r.status) {
      case util::platform::ReadStatus::kOk: return std::move(r.bytes);
      case util::platform::ReadStatus::kNotFound: return std::nullopt;
      case util::platform::ReadStatus::kTooLarge:
        throw std::runtime_error("Cannot read " + path + ": file too large");
      case util::platform::ReadStatus::kCannotOpen: break;
    }
    throw std::runtime_error("Cannot open " + path + ": " +
                             util::platform::SystemErrorText(r.error));
  }
};

}  // namespace

std::shared_ptr<const IFileReader> SystemFileReader() {
  static const auto reader = std::make_shared<const SystemReader>();
  return reader;
}

std::string ErrorTypeName(const std::exception& error) {
  const char* raw = typeid(error).name();
#if defined(_MSC_VER)
  // "class std::runtime_error"
  std::string name = raw;
  for (std::string_view prefix : {"class ", "struct "}) {
    if (name.rfind(prefix, 0) == 0) {
      name.erase(0, prefix.size());
    }
  }
  return name;
#else
  int status = 0;
  char* demangled = abi::__cxa_demangle(raw, nullptr, nullptr, &status);
  if (status != 0 || demangled == nullptr) {
    return raw;
  }
  std::string name = demangled;
  std::free(demangled);
  return name;
#endif
}

}  // namespace orv::soap::publish
