// The request handler and its pool of web modules: runs a web module from the pool on each
// request's web request and web response, which the listener's exchange holds (the request as
// the reader filled it, the response that the exchange writes).
//
// Thread safety: TWebRequestHandler::HandleRequest and ServeWebRequest are called from many
// dispatch threads at once; the pool's lists are guarded by one lock, held only while a module
// set is taken or returned. SetWebModuleClass is called once at start-up, before listening.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "host/http_limits.h"
#include "host/web.h"

namespace orv::host {

class HttpExchange;

// A web module: decides who answers a web request. Returns whether it handled the request.
// Errors it raises are its own to answer; one that escapes reaches the listener (500).
class TWebModule {
 public:
  virtual ~TWebModule() = default;
  virtual bool Dispatch(TWebRequest& request, TWebResponse& response) = 0;
};

// Makes one web module instance with its components (the "web module class").
using WebModuleFactory = std::function<std::unique_ptr<TWebModule>()>;

// Refusal of a request beyond the active-module limit.
inline constexpr const char* kTooManyConnectionsMessage =
    "Maximum number of concurrent connections exceeded.  Please try again later";

// How a request that finds every web module busy waits for one (reasons in http_limits.h).
struct DispatchWait {
  std::chrono::milliseconds timeout = kDispatchWaitTimeout;   // from the request's arrival
  std::size_t max_waiting = kMaxWaitingRequests;
};

class TWebRequestHandler {
 public:
  explicit TWebRequestHandler(std::size_t max_active = kMaxActiveModules, DispatchWait wait = {});
  ~TWebRequestHandler();
  TWebRequestHandler(const TWebRequestHandler&) = delete;
  TWebRequestHandler& operator=(const TWebRequestHandler&) = delete;

  void SetWebModuleClass(WebModuleFactory factory);
  std::size_t MaxConnections() const { return max_active_; }
  bool CacheConnections() const { return true; }

  // Takes a module set, runs its dispatch, sends the response when handled and not yet sent, and
  // returns the set. When every set is busy the request waits, in arrival order, until one is
  // returned or the wait's time-out has passed since `arrival` (the default: now); then, or at
  // once when too many wait already, kTooManyConnectionsMessage is raised.
  bool HandleRequest(TWebRequest& request, TWebResponse& response,
                     std::chrono::steady_clock::time_point arrival = {});

  std::size_t ActiveCount() const { return active_count_.load(); }
  std::size_t WaitingCount() const;
  std::size_t InactiveCount() const;
  // Module sets made so far.
  std::size_t CreatedCount() const;

 private:
  struct ModuleSet {
    std::unique_ptr<TWebModule> module;
  };
  // A request waiting for a module set; its slot is handed over by Return.
  struct Waiter {
    std::condition_variable wake;
    bool granted = false;
  };
  std::unique_ptr<ModuleSet> Take(std::chrono::steady_clock::time_point deadline);
  void Return(std::unique_ptr<ModuleSet> set);
  // A slot comes free: handed to the first waiter, or no longer counted. Under lock_.
  void HandOverOrFree();

  const std::size_t max_active_;
  const DispatchWait wait_;
  WebModuleFactory factory_;
  mutable std::mutex lock_;
  std::deque<std::unique_ptr<ModuleSet>> idle_;   // oldest first
  std::deque<Waiter*> waiters_;                   // in arrival order
  std::atomic<std::size_t> active_count_{0};      // changed under lock_
  std::size_t created_ = 0;
};

// The listener's command handler for a request handler: runs HandleRequest on the exchange's
// request and response (the response is written through the exchange).
void ServeWebRequest(TWebRequestHandler& handler, HttpExchange& exchange);

}  // namespace orv::host
