// IOrvWs: the collectors' SOAP interface (namespace "urn:UOrvWsIntf-IOrvWs"), as the SOAP
// endpoint calls it. The service's TOrvWs implements it; the registry makes a fresh instance
// for every call, bound to that call's context.
//
// Thread safety: an instance serves one call on one thread; different instances run
// concurrently.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace orv::soap {

// What one call knows about the HTTP request that carries it. Each request has its own,
// so concurrent collectors never see each other's address.
struct CallContext {
  std::string ip_cliente;   // the peer address of the request's connection, as text
};

class IOrvWs {
 public:
  virtual ~IOrvWs() = default;
  virtual bool Auth(const std::string& KeyValue, const std::string& UserName) = 0;
  virtual std::string Exec(const std::string& Value) = 0;
  virtual std::string GetSQL(const std::string& Value) = 0;
  virtual std::string AddItemPesquisa(std::int32_t CodPesquisa, std::int32_t CodConcorrente,
                                      const std::string& CodEan, float ValPesquisa) = 0;
};

}  // namespace orv::soap
