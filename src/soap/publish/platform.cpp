#include "soap/publish/platform.h"

#include <typeinfo>

#if !defined(_MSC_VER)
#include <cxxabi.h>

#include <cstdlib>
#endif

namespace orv::soap::publish {

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
