// The peer toolkit's server of the IWSDLPublish port type, for bench/report.sh: gSOAP's wsdl2h
// and soapcpp2 generate its reading and writing of the calls from the WSDL the daemon publishes
// (bench/gsoap/CMakeLists.txt); only the operation bodies and the accept loop are ours.
// One thread per connection, as the toolkit's samples do: the main thread accepts, and each
// socket gets a new thread with its own copy of the context (soap_copy), which serves one
// request and closes the connection (no keep-alive).
//
//   bench_gsoap_server <port>    serves on 127.0.0.1 until killed
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <thread>

#include "soapH.h"
#include "IWSDLPublishbinding.nsmap"

namespace {

// The answer of GetPortTypeList and GetTypeSystemsList: an array of strings in the context's
// memory, as the generated code expects its results.
ArrayOfString* Strings(struct soap* soap, std::initializer_list<const char*> items) {
  ArrayOfString* a = soap_new_ArrayOfString(soap);
  a->__size = static_cast<int>(items.size());
  a->__ptr = soap_new_std__string(soap, a->__size);
  int i = 0;
  for (const char* s : items) a->__ptr[i++] = s;
  return a;
}

void Serve(struct soap* copy) {
  soap_serve(copy);
  soap_destroy(copy);
  soap_end(copy);
  soap_free(copy);
}

}  // namespace

int ns1__GetPortTypeList(struct soap* soap, ns1__GetPortTypeListResponse& response) {
  response.return_ = Strings(soap, {"IWSDLPublish", "IOrvWs"});
  return SOAP_OK;
}

int ns1__GetWSDLForPortType(struct soap*, std::string, std::string& result) {
  result = "<definitions/>";
  return SOAP_OK;
}

int ns1__GetTypeSystemsList(struct soap* soap, ns1__GetTypeSystemsListResponse& response) {
  response.return_ = Strings(soap, {"http://www.w3.org/2001/XMLSchema"});
  return SOAP_OK;
}

int ns1__GetXSDForTypeSystem(struct soap*, std::string, std::string& result) {
  result = "<xs:schema/>";
  return SOAP_OK;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_gsoap_server <port>\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  struct soap* soap = soap_new();
  soap->bind_flags = SO_REUSEADDR;
  soap->send_timeout = soap->recv_timeout = 10;   // seconds; a stalled client frees its thread
  // The same listen queue as the daemon's (kListenBacklog) and nginx's.
  if (!soap_valid_socket(soap_bind(soap, "127.0.0.1", std::atoi(argv[1]), 511))) {
    soap_print_fault(soap, stderr);
    return 1;
  }
  for (;;) {
    if (!soap_valid_socket(soap_accept(soap))) {
      soap_print_fault(soap, stderr);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));   // out of descriptors, say
      continue;
    }
    struct soap* copy = soap_copy(soap);
    if (copy == nullptr) {
      soap_force_closesock(soap);
      continue;
    }
    std::thread(Serve, copy).detach();
  }
}
