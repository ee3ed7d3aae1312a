// The request handler's pool of web modules: reuse, waiting, errors and the moment a set goes
// back.
#include <gtest/gtest.h>

#include <future>

#include "host/request_handler.h"
#include "server_fixture.h"

namespace orv::host {
namespace {

// Records which module set served each request; waits on a gate named by the path.
class TaggedModule : public TWebModule {
 public:
  TaggedModule(int id, std::map<std::string, test::Gate*>* gates) : id_(id), gates_(gates) {}
  bool Dispatch(TWebRequest& rq, TWebResponse& rs) override {
    if (rq.PathInfo() == "/throw") throw std::runtime_error("module failed");
    auto it = gates_->find(rq.PathInfo());
    if (it != gates_->end()) it->second->Enter();
    rs.SetContent(std::to_string(id_));
    return true;
  }

 private:
  int id_;
  std::map<std::string, test::Gate*>* gates_;
};

TEST(WebRequestHandler, ReusesIdleSetsOldestFirst) {
  test::Gate a, b;
  std::map<std::string, test::Gate*> gates{{"/a", &a}, {"/b", &b}};
  int made = 0;
  TWebRequestHandler handler;
  handler.SetWebModuleClass([&] { return std::make_unique<TaggedModule>(++made, &gates); });
  auto serve = [&](const std::string& path) {
    TWebRequest rq;
    rq.path = path;
    TWebResponse rs;
    handler.HandleRequest(rq, rs);
    return rs.Content();
  };
  auto fa = std::async(std::launch::async, serve, "/a");
  ASSERT_TRUE(a.WaitInside(1));
  auto fb = std::async(std::launch::async, serve, "/b");
  ASSERT_TRUE(b.WaitInside(1));
  EXPECT_EQ(handler.ActiveCount(), 2u);
  b.Open();   // /b's set goes back first, so it is the oldest idle one
  const std::string set_b = fb.get();
  a.Open();
  const std::string set_a = fa.get();
  EXPECT_NE(set_a, set_b);
  EXPECT_EQ(serve("/x"), set_b);
  EXPECT_EQ(serve("/x"), set_a);
  EXPECT_EQ(made, 2);

  // An error that leaves the module reaches the caller, and the set is returned all the same.
  EXPECT_THROW(serve("/throw"), std::runtime_error);
  EXPECT_EQ(handler.ActiveCount(), 0u);
  EXPECT_EQ(handler.InactiveCount(), 2u);
}

TEST(WebRequestHandler, SetIsFreeBeforeTheAnswerLeaves) {
  TWebRequestHandler handler(1);
  handler.SetWebModuleClass([] { return std::make_unique<test::EchoModule>(); });
  std::size_t active_while_sending = 99;
  TWebRequest rq;
  TWebResponse rs("HTTP/1.1",
                  [&] { active_while_sending = handler.ActiveCount(); });
  EXPECT_TRUE(handler.HandleRequest(rq, rs));
  EXPECT_EQ(active_while_sending, 0u);
}

TEST(WebRequestHandler, FailedModuleCreationFreesItsSlot) {
  TWebRequestHandler handler(1);
  bool fail = true;
  handler.SetWebModuleClass([&]() -> std::unique_ptr<TWebModule> {
    if (fail) throw std::runtime_error("no module");
    return std::make_unique<test::EchoModule>();
  });
  TWebRequest rq;
  TWebResponse rs;
  EXPECT_THROW(handler.HandleRequest(rq, rs), std::runtime_error);
  EXPECT_EQ(handler.ActiveCount(), 0u);
  fail = false;
  EXPECT_TRUE(handler.HandleRequest(rq, rs));
  EXPECT_TRUE(rs.Sent());
  EXPECT_EQ(handler.CreatedCount(), 1u);
}

}  // namespace
}  // namespace orv::host
