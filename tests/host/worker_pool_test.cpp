// The dispatch pool: how many tasks run at once, what a stalled task gives up, the threads'
// limit and ends, and that a destroyed pool runs what was queued.
#include "host/worker_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace orv::host {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A gate tasks wait at until it opens.
class Gate {
 public:
  void Wait() {
    std::unique_lock lock(m_);
    cv_.wait(lock, [this] { return open_; });
  }
  void Open() {
    {
      std::lock_guard lock(m_);
      open_ = true;
    }
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool open_ = false;
};

// Counts tasks started, running and finished, and the most that ran at once.
struct Tally {
  std::atomic<int> started{0}, running{0}, done{0}, most{0};
  std::function<void()> Task(Gate* gate = nullptr, std::chrono::microseconds work = 0us) {
    return [this, gate, work] {
      ++started;
      const int now = ++running;
      int seen = most.load();
      while (seen < now && !most.compare_exchange_weak(seen, now)) {
      }
      if (gate) gate->Wait();
      if (work > 0us) std::this_thread::sleep_for(work);
      --running;
      ++done;
    };
  }
};

// Waits (at most 10 s) for `cond`.
template <class F>
bool Eventually(F cond) {
  const auto until = Clock::now() + 10s;
  while (!cond()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(WorkerPool, QuickTasksRunAtMostAtOnceOnTheirFirstThreads) {
  Tally t;
  {
    WorkerPool pool({.max_threads = 16, .threads_at_once = 2, .stall_delay = 10s});
    for (int i = 0; i < 40; ++i) pool.Post(t.Task(nullptr, 200us));
    ASSERT_TRUE(Eventually([&] { return t.done == 40; }));
    EXPECT_LE(t.most, 2);
    EXPECT_LE(pool.ThreadCount(), 2u);
  }
}

TEST(WorkerPool, AStalledTaskGivesItsPlaceToTheNextAfterTheDelay) {
  Tally t;
  Gate gate;
  WorkerPool pool({.max_threads = 8, .threads_at_once = 1, .stall_delay = 100ms});
  pool.Post(t.Task(&gate));
  ASSERT_TRUE(Eventually([&] { return t.started == 1; }));
  const auto posted = Clock::now();
  std::atomic<Clock::rep> ran_at{0};
  pool.Post([&] { ran_at = Clock::now().time_since_epoch().count(); });
  ASSERT_TRUE(Eventually([&] { return ran_at != 0; }));
  const auto waited = Clock::time_point(Clock::duration(ran_at.load())) - posted;
  // Not before the first has run for the delay (it started a little before the post).
  EXPECT_GE(waited, 50ms);
  gate.Open();
}

TEST(WorkerPool, BlockedTasksNeverHoldBackLaterOnesWhileThreadsCanBeAdded) {
  Tally blocked;
  Gate gate;
  WorkerPool pool({.max_threads = 8, .threads_at_once = 2, .stall_delay = 5ms});
  for (int i = 0; i < 6; ++i) pool.Post(blocked.Task(&gate));
  std::atomic<bool> quick{false};
  pool.Post([&] { quick = true; });
  EXPECT_TRUE(Eventually([&] { return quick.load(); }));
  EXPECT_EQ(blocked.started, 6);
  EXPECT_EQ(pool.ThreadCount(), 7u);
  gate.Open();
  EXPECT_TRUE(Eventually([&] { return blocked.done == 6; }));
}

TEST(WorkerPool, PastTheMaximumATaskWaitsForAThreadToFinish) {
  Tally t;
  Gate gate;
  WorkerPool pool({.max_threads = 3, .threads_at_once = 1, .stall_delay = 1ms});
  for (int i = 0; i < 5; ++i) pool.Post(t.Task(&gate));
  ASSERT_TRUE(Eventually([&] { return t.started == 3; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(t.started, 3);
  EXPECT_EQ(pool.ThreadCount(), 3u);
  gate.Open();
  EXPECT_TRUE(Eventually([&] { return t.done == 5; }));
}

TEST(WorkerPool, ThreadsBeyondThoseAtOnceEndWhenIdleAndComeBackWhenNeeded) {
  Tally t;
  auto gate = std::make_unique<Gate>();
  WorkerPool pool(
      {.max_threads = 8, .threads_at_once = 2, .stall_delay = 1ms, .idle_end = 50ms});
  for (int i = 0; i < 6; ++i) pool.Post(t.Task(gate.get()));
  ASSERT_TRUE(Eventually([&] { return t.started == 6; }));
  gate->Open();
  EXPECT_TRUE(Eventually([&] { return pool.ThreadCount() == 2; }));
  // A second burst gets its threads again.
  gate = std::make_unique<Gate>();
  for (int i = 0; i < 6; ++i) pool.Post(t.Task(gate.get()));
  EXPECT_TRUE(Eventually([&] { return t.started == 12; }));
  gate->Open();
  EXPECT_TRUE(Eventually([&] { return t.done == 12; }));
}

TEST(WorkerPool, TasksRunInArrivalOrderAndADestroyedPoolRunsWhatWasQueued) {
  std::vector<int> order;
  std::mutex m;
  {
    WorkerPool pool({.max_threads = 1});
    for (int i = 0; i < 100; ++i)
      pool.Post([&, i] {
        std::lock_guard lock(m);
        order.push_back(i);
      });
  }
  ASSERT_EQ(order.size(), 100u);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST(WorkerPool, ATaskMayPostAndAnEscapingErrorKeepsTheThread) {
  std::atomic<int> done{0};
  {
    WorkerPool pool({.max_threads = 2, .threads_at_once = 1, .stall_delay = 1ms});
    pool.Post([] { throw std::runtime_error("x"); });
    pool.Post([&] {
      ++done;
      pool.Post([&] { ++done; });
    });
    ASSERT_TRUE(Eventually([&] { return done == 2; }));
  }
  EXPECT_EQ(done, 2);
}

}  // namespace
}  // namespace orv::host
