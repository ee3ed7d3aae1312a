// The request handler and its pool of web modules.
#include "host/request_handler.h"

#include <algorithm>
#include <stdexcept>

#include "host/http_server.h"

namespace orv::host {

// ---- TWebRequestHandler ----------------------------------------------------------------------

TWebRequestHandler::TWebRequestHandler(std::size_t max_active, DispatchWait wait)
    : max_active_(max_active), wait_(wait) {}

TWebRequestHandler::~TWebRequestHandler() = default;

void TWebRequestHandler::SetWebModuleClass(WebModuleFactory factory) {
  std::lock_guard<std::mutex> lock(lock_);
  factory_ = std::move(factory);
  idle_.clear();   // sets of an earlier class are not reused
}

std::size_t TWebRequestHandler::InactiveCount() const {
  std::lock_guard<std::mutex> lock(lock_);
  return idle_.size();
}

std::size_t TWebRequestHandler::WaitingCount() const {
  std::lock_guard<std::mutex> lock(lock_);
  return waiters_.size();
}

std::size_t TWebRequestHandler::CreatedCount() const {
  std::lock_guard<std::mutex> lock(lock_);
  return created_;
}

std::unique_ptr<TWebRequestHandler::ModuleSet> TWebRequestHandler::Take(
    std::chrono::steady_clock::time_point deadline) {
  WebModuleFactory factory;
  {
    std::unique_lock<std::mutex> lock(lock_);
    if (active_count_.load() < max_active_ && waiters_.empty()) {
      ++active_count_;
    } else {
      // Every set is busy (or others wait first): wait for Return to hand one over.
      if (waiters_.size() >= wait_.max_waiting)
        throw std::runtime_error(kTooManyConnectionsMessage);
      Waiter me;
      waiters_.push_back(&me);
      if (!me.wake.wait_until(lock, deadline, [&me] { return me.granted; })) {
        waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &me));
        throw std::runtime_error(kTooManyConnectionsMessage);
      }
      // The slot is this request's now: Return counted it as active on its behalf.
    }
    if (!idle_.empty()) {
      std::unique_ptr<ModuleSet> set = std::move(idle_.front());
      idle_.pop_front();
      return set;
    }
    factory = factory_;
    ++created_;
  }
  // A new set is made outside the lock: its slot is already counted as active.
  try {
    if (!factory) throw std::runtime_error("No web module class is set");
    auto set = std::make_unique<ModuleSet>();
    set->module = factory();
    if (!set->module) throw std::runtime_error("No web module class is set");
    return set;
  } catch (...) {
    std::lock_guard<std::mutex> lock(lock_);
    --created_;
    HandOverOrFree();
    throw;
  }
}

void TWebRequestHandler::HandOverOrFree() {
  if (waiters_.empty()) {
    --active_count_;
    return;
  }
  Waiter* next = waiters_.front();
  waiters_.pop_front();
  next->granted = true;
  next->wake.notify_one();
}

void TWebRequestHandler::Return(std::unique_ptr<ModuleSet> set) {
  std::lock_guard<std::mutex> lock(lock_);
  idle_.push_back(std::move(set));
  HandOverOrFree();
}

bool TWebRequestHandler::HandleRequest(TWebRequest& request, TWebResponse& response,
                                       std::chrono::steady_clock::time_point arrival) {
  if (arrival == std::chrono::steady_clock::time_point{}) arrival = std::chrono::steady_clock::now();
  bool handled = false;
  {
    std::unique_ptr<ModuleSet> set = Take(arrival + wait_.timeout);
    struct Returner {
      TWebRequestHandler* handler;
      std::unique_ptr<ModuleSet>& set;
      ~Returner() { handler->Return(std::move(set)); }
    } returner{this, set};
    handled = set->module->Dispatch(request, response);
  }
  // The set goes back before the answer leaves: a client that waits for its answer and sends
  // the next request at once must find the set free again, or a client that never has more
  // than the limit in flight would be refused.
  if (handled && !response.Sent()) response.SendResponse();
  return handled;
}

// ---- The listener's command handler -------------------------------------------------------

void ServeWebRequest(TWebRequestHandler& handler, HttpExchange& exchange) {
  handler.HandleRequest(exchange.Request(), exchange.Response(), exchange.Request().received_at);
}

}  // namespace orv::host
