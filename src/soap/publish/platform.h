// The operating-system calls the publisher needs, kept in one place: reading a whole file (behind an interface, so tests can make reads fail) and the
// readable name of an error's type.
//
// Thread safety: every function and the default file reader may be used from any thread.
#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace orv::soap::publish {

// Reads files for the publisher.
class IFileReader {
 public:
  virtual ~IFileReader() = default;
  // The whole content of the file, or nullopt when it does not exist. Any other failure
  // (unreadable, too large) raises std::runtime_error.
  virtual std::optional<std::string> ReadWhole(const std::string& path) const = 0;
};

// The real file system.
std::shared_ptr<const IFileReader> SystemFileReader();

// The name of the error's dynamic type as a developer would write it ("std::runtime_error").
std::string ErrorTypeName(const std::exception& error);

}  // namespace orv::soap::publish
