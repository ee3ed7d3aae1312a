// Pool of dispatch threads.
#include "host/worker_pool.h"

#include "util/platform.h"

namespace orv::host {

WorkerPool::WorkerPool(std::size_t max_threads, const char* name, int niceness)
    : max_threads_(max_threads > 0 ? max_threads : 1), name_(name), niceness_(niceness) {}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& t : threads_) t.join();
}

void WorkerPool::Post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
    // A thread is added when every existing one is busy with earlier tasks.
    if (idle_ < tasks_.size() && threads_.size() < max_threads_) {
      threads_.emplace_back([this] { Run(); });
      return;
    }
  }
  wake_.notify_one();
}

std::size_t WorkerPool::ThreadCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return threads_.size();
}

void WorkerPool::Run() {
  util::platform::NameCurrentThread(name_);
  if (niceness_ > 0) util::platform::LowerCurrentThreadPriority(niceness_);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ++idle_;
    wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
    --idle_;
    if (tasks_.empty()) return;   // stopping and nothing left
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    try {
      task();
    } catch (...) {
      // Tasks report their own errors; one that escapes must not end the thread.
    }
    task = nullptr;   // release what the task holds before waiting again
    lock.lock();
  }
}

}  // namespace orv::host
