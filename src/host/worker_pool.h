// Pool of dispatch threads. Tasks run in arrival order. A few of them run at once (threads_at_once,
// by default a couple per core): on a machine of a few cores more threads only take turns on the
// same cores, and every thread woken for a task costs a switch that a thread finishing its task
// and taking the next one does not. A task that has run for stall_delay is taken to be waiting
// on something (a database lock, a web module, a slow disk) and gives up its place: the next
// task then starts on another thread, added while fewer than max_threads exist. So a burst never
// waits more than stall_delay behind slow tasks while a thread can still be added.
//
// An idle thread is woken newest first, so the same few threads do the work while the load
// allows; a thread beyond threads_at_once that has been idle for idle_end ends.
//
// Thread safety: Post may be called from any thread, a task included; the destructor waits for
// every queued task to finish and must not be called from a pool thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace orv::host {

struct WorkerPoolOptions {
  std::size_t max_threads = 1;
  // Tasks that run at once before a later one waits; 0: max_threads (every task starts at once
  // while a thread can be added).
  std::size_t threads_at_once = 0;
  std::chrono::milliseconds stall_delay{5};
  std::chrono::milliseconds idle_end{30000};
  // Threads are named `name` for the system's tools; with a positive `niceness` each runs at
  // that much lower a scheduling priority than the process.
  const char* name = "orv-despacho";
  int niceness = 0;
};

class WorkerPool {
 public:
  explicit WorkerPool(WorkerPoolOptions options);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void Post(std::function<void()> task);
  std::size_t ThreadCount() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Worker {
    std::thread thread;
    std::condition_variable wake;
    std::function<void()> task;        // handed over by Post or the monitor
    Clock::time_point started = Clock::time_point::max();   // of the task it runs
    bool alive = false;   // a thread runs in it; an ended one's place is taken by the next
  };
  struct Queued {
    std::function<void()> task;
  };

  void Run(Worker* w);
  void Monitor();
  // Tasks started less than stall_delay ago; `first_stale` gets the earliest time one of them
  // turns stale (unchanged when there is none).
  std::size_t FreshLocked(Clock::time_point now, Clock::time_point* first_stale) const;
  // Gives `task` to the newest idle thread or a new one; false when the maximum is reached. An
  // idle thread given it is left in `*wake`, for the caller to wake once it has let the lock go
  // (so that it does not wake only to wait for the lock).
  bool StartLocked(std::function<void()>& task, Clock::time_point now, Worker** wake);
  void JoinEnded(std::unique_lock<std::mutex>& lock);

  const WorkerPoolOptions options_;
  mutable std::mutex mutex_;
  std::deque<Queued> tasks_;
  // Never erased while the pool lives, so that a wake-up given outside the lock never reaches a
  // destroyed worker (at worst it wakes the next thread in the same place, which waits again).
  std::list<Worker> workers_;
  std::size_t live_ = 0;               // threads running
  std::vector<Worker*> idle_;          // newest last
  std::vector<std::thread> ended_;     // threads that ended on their own, to join
  std::condition_variable monitor_wake_;
  bool monitor_waits_ = false;         // for a task to be queued (no deadline)
  bool stopping_ = false;
  std::thread monitor_;
};

}  // namespace orv::host
