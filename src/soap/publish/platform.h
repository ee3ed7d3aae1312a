// What the publisher needs of the compiler's run-time: the readable name of an error's type.
// (Its files are read through util::Env.)
//
// Thread safety: any thread.
#pragma once

#include <exception>
#include <string>

namespace orv::soap::publish {

// The name of the error's dynamic type as a developer would write it ("std::runtime_error").
std::string ErrorTypeName(const std::exception& error);

}  // namespace orv::soap::publish
