// IOrvWs: the collectors' SOAP interface (namespace "urn:UOrvWsIntf-IOrvWs"), as the SOAP
// endpoint calls it, and its record for the interface registry (operations, parameter and
// result types, and how each operation is called). The service's TOrvWs implements it; the
// registry makes a fresh instance for every call, bound to that call's context.
//
// Thread safety: an instance serves one call on one thread; different instances run
// concurrently. The record functions are pure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "soap/registry.h"

namespace orv::soap {

inline constexpr std::string_view kOrvWsName = "IOrvWs";
inline constexpr std::string_view kOrvWsUnitName = "UOrvWsIntf";
inline constexpr std::string_view kOrvWsClassName = "TOrvWs";

class IOrvWs {
 public:
  static constexpr std::string_view kInterfaceName = kOrvWsName;

  virtual ~IOrvWs() = default;
  virtual bool Auth(const std::string& KeyValue, const std::string& UserName) = 0;
  virtual std::string Exec(const std::string& Value) = 0;
  virtual std::string GetSQL(const std::string& Value) = 0;
  // The same script in the pieces it was made in, for an answer written piece by piece (a
  // large store's script is tens of megabytes); by default GetSQL's text as one piece. The
  // endpoint calls this one.
  virtual std::vector<std::string> GetSQLEmPartes(const std::string& Value) {
    std::vector<std::string> one;
    one.push_back(GetSQL(Value));
    return one;
  }
  virtual std::string AddItemPesquisa(std::int32_t CodPesquisa, std::int32_t CodConcorrente,
                                      const std::string& CodEan, float ValPesquisa) = 0;
};

// The record of IOrvWs (namespace derived from its unit when registered; no class bound).
InterfaceInfo OrvWsInterface();
// Registers it with its derived namespace.
void RegisterOrvWsInterface(InterfaceRegistry& registry);

}  // namespace orv::soap
