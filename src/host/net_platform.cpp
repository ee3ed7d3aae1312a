// The listener's operating-system calls.
#include "host/net_platform.h"

#ifndef _WIN32
#include <sys/ioctl.h>
#include <sys/resource.h>
#endif
#ifdef __linux__
#include <linux/sockios.h>
#endif

namespace orv::host {
namespace {

class RealNetPlatform : public INetPlatform {
 public:
  long RaiseDescriptorLimit() override {
#ifdef _WIN32
    return -1;
#else
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return -1;
    if (rl.rlim_cur < rl.rlim_max) {
      rlimit raised = rl;
      raised.rlim_cur = rl.rlim_max;
      if (setrlimit(RLIMIT_NOFILE, &raised) == 0) rl = raised;
    }
    if (rl.rlim_cur == RLIM_INFINITY) return -1;
    return static_cast<long>(rl.rlim_cur);
#endif
  }

  bool Ipv6Supported() override {
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket s(io);
    boost::system::error_code ec;
    s.open(boost::asio::ip::tcp::v6(), ec);
    return !ec;
  }

  void SetListenerReuse(boost::asio::ip::tcp::acceptor& acceptor,
                        boost::system::error_code& ec) override {
#ifdef _WIN32
    using exclusive = boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
    acceptor.set_option(exclusive(true), ec);
#else
    acceptor.set_option(boost::asio::socket_base::reuse_address(true), ec);
#endif
  }

  long long UnsentBytes(boost::asio::ip::tcp::socket& socket) override {
#ifdef __linux__
    int queued = 0;
    if (ioctl(socket.native_handle(), SIOCOUTQ, &queued) != 0) return -1;
    return queued;
#else
    (void)socket;
    return -1;
#endif
  }
};

}  // namespace

INetPlatform& DefaultNetPlatform() {
  static RealNetPlatform platform;
  return platform;
}

}  // namespace orv::host
