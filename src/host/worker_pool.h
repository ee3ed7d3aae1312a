// Pool of dispatch threads: tasks run in arrival order on threads that are started on demand
// (up to a maximum) and kept for reuse, so a burst of requests never waits behind a slow one
// while a thread can still be added.
//
// Thread safety: Post may be called from any thread; the destructor waits for every queued
// task to finish and must not be called from a pool thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orv::host {

class WorkerPool {
 public:
  // Threads are named `name` for the system's tools; with a positive `niceness` each runs at
  // that much lower a scheduling priority than the process.
  explicit WorkerPool(std::size_t max_threads, const char* name = "orv-despacho",
                      int niceness = 0);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void Post(std::function<void()> task);
  std::size_t ThreadCount() const;

 private:
  void Run();

  const std::size_t max_threads_;
  const char* const name_;
  const int niceness_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace orv::host
