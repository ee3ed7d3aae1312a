// A listener on 127.0.0.1 with an ephemeral port, a gate that holds dispatches until released,
// and a recording web module, shared by the listener and dispatch tests.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/http_server.h"
#include "host/request_handler.h"

namespace orv::host::test {

// Holds every caller of Enter() until Open(); counts who is waiting.
class Gate {
 public:
  void Enter() {
    std::unique_lock<std::mutex> lock(m_);
    ++inside_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(m_);
    open_ = true;
    changed_.notify_all();
  }
  bool WaitInside(int n, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(m_);
    return changed_.wait_for(lock, limit, [&] { return inside_ >= n; });
  }
  int inside() {
    std::lock_guard<std::mutex> lock(m_);
    return inside_;
  }

 private:
  std::mutex m_;
  std::condition_variable changed_;
  int inside_ = 0;
  bool open_ = false;
};

// Answers "<Method> <MethodType> <PathInfo> [<ContentType>] <Content>" as text/plain.
class EchoModule : public TWebModule {
 public:
  explicit EchoModule(Gate* gate = nullptr) : gate_(gate) {}
  bool Dispatch(TWebRequest& rq, TWebResponse& rs) override {
    if (gate_) gate_->Enter();
    rs.ContentType = "text/plain";
    rs.SetContent(rq.Method() + " " + std::to_string(static_cast<int>(rq.MethodType())) + " " +
                  rq.PathInfo() + " [" + rq.ContentType() + "] " + rq.Content());
    return true;
  }

 private:
  Gate* gate_;
};

class ServerFixture : public ::testing::Test {
 protected:
  void StartServer(CommandHandler handler, HttpServerOptions options = {}) {
    server_ = std::make_unique<THttpServer>(options);
    server_->Bindings().push_back({"127.0.0.1", 0});
    server_->SetOnCommand(std::move(handler));
    server_->SetOnSendError([this](const std::string& m) {
      std::lock_guard<std::mutex> lock(errors_mutex_);
      send_errors_.push_back(m);
    });
    server_->Start();
    port_ = server_->BoundPorts().at(0);
  }
  // Serves through a request handler whose module class is EchoModule.
  void StartEchoServer(Gate* gate = nullptr, HttpServerOptions options = {},
                       DispatchWait wait = {}) {
    handler_ = std::make_unique<TWebRequestHandler>(kMaxActiveModules, wait);
    handler_->SetWebModuleClass([gate] { return std::make_unique<EchoModule>(gate); });
    TWebRequestHandler* h = handler_.get();
    StartServer([h](HttpExchange& ex) { ServeWebRequest(*h, ex); }, options);
  }
  std::vector<std::string> SendErrors() {
    std::lock_guard<std::mutex> lock(errors_mutex_);
    return send_errors_;
  }
  void TearDown() override {
    if (server_) server_->Stop();
  }

  std::unique_ptr<TWebRequestHandler> handler_;
  std::unique_ptr<THttpServer> server_;
  unsigned short port_ = 0;
  std::mutex errors_mutex_;
  std::vector<std::string> send_errors_;
};

}  // namespace orv::host::test
