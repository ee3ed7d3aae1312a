// Pool of dispatch threads.
#include "host/worker_pool.h"

#include <algorithm>

#include "util/platform.h"

namespace orv::host {

namespace {

WorkerPoolOptions Checked(WorkerPoolOptions o) {
  o.max_threads = std::max<std::size_t>(1, o.max_threads);
  if (o.threads_at_once == 0 || o.threads_at_once > o.max_threads)
    o.threads_at_once = o.max_threads;
  return o;
}

}  // namespace

WorkerPool::WorkerPool(WorkerPoolOptions options) : options_(Checked(options)) {
  // Only a pool that lets tasks wait needs someone to watch them wait.
  if (options_.threads_at_once < options_.max_threads) monitor_ = std::thread([this] { Monitor(); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (Worker& w : workers_) w.wake.notify_one();
  }
  monitor_wake_.notify_all();
  if (monitor_.joinable()) monitor_.join();
  // Every worker now runs what is queued and ends; none ends on its own any more.
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Worker& w : workers_)
      if (w.thread.joinable()) threads.push_back(std::move(w.thread));
    for (std::thread& t : ended_) threads.push_back(std::move(t));
    ended_.clear();
  }
  for (std::thread& t : threads) t.join();
}

std::size_t WorkerPool::FreshLocked(Clock::time_point now, Clock::time_point* first_stale) const {
  std::size_t n = 0;
  for (const Worker& w : workers_) {
    if (w.started == Clock::time_point::max() || now - w.started >= options_.stall_delay) continue;
    ++n;
    if (first_stale) *first_stale = std::min(*first_stale, w.started + options_.stall_delay);
  }
  return n;
}

bool WorkerPool::StartLocked(std::function<void()>& task, Clock::time_point now, Worker** wake) {
  *wake = nullptr;
  if (!idle_.empty()) {
    Worker* w = idle_.back();   // the newest: its stack and caches are still warm
    idle_.pop_back();
    w->task = std::move(task);
    w->started = now;
    *wake = w;
    return true;
  }
  if (live_ >= options_.max_threads) return false;
  auto place = std::find_if(workers_.begin(), workers_.end(), [](const Worker& w) { return !w.alive; });
  Worker& w = place != workers_.end() ? *place : workers_.emplace_back();
  w.alive = true;
  ++live_;
  w.task = std::move(task);
  w.started = now;
  Worker* raw = &w;
  w.thread = std::thread([this, raw] { Run(raw); });
  return true;
}

void WorkerPool::Post(std::function<void()> task) {
  std::unique_lock<std::mutex> lock(mutex_);
  const Clock::time_point now = Clock::now();
  // Behind tasks already waiting, or past the tasks that may run at once, it waits its turn.
  Worker* wake = nullptr;
  if (tasks_.empty() && FreshLocked(now, nullptr) < options_.threads_at_once &&
      StartLocked(task, now, &wake)) {
    lock.unlock();
    if (wake) wake->wake.notify_one();
    return;
  }
  tasks_.push_back({std::move(task)});
  if (monitor_waits_) {
    monitor_waits_ = false;
    lock.unlock();
    monitor_wake_.notify_one();
  }
}

std::size_t WorkerPool::ThreadCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_;
}

void WorkerPool::Run(Worker* w) {
  util::platform::NameCurrentThread(options_.name);
  if (options_.niceness > 0) util::platform::LowerCurrentThreadPriority(options_.niceness);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (w->task) {
      std::function<void()> task = std::move(w->task);
      w->task = nullptr;
      lock.unlock();
      try {
        task();
      } catch (...) {
        // Tasks report their own errors; one that escapes must not end the thread.
      }
      task = nullptr;   // release what the task holds before waiting again
      lock.lock();
      w->started = Clock::time_point::max();
    }
    // The next waiting task, without a wake-up, when its place allows it (a stop runs them all).
    if (!tasks_.empty() &&
        (stopping_ || FreshLocked(Clock::now(), nullptr) < options_.threads_at_once)) {
      w->task = std::move(tasks_.front().task);
      tasks_.pop_front();
      w->started = Clock::now();
      continue;
    }
    if (stopping_) return;
    idle_.push_back(w);
    const auto ready = [this, w] { return w->task != nullptr || stopping_; };
    bool woken = true;
    if (live_ > options_.threads_at_once) woken = w->wake.wait_for(lock, options_.idle_end, ready);
    else w->wake.wait(lock, ready);
    if (w->task) continue;   // whoever gave it took it off the idle list
    idle_.erase(std::find(idle_.begin(), idle_.end(), w));
    // Stopping, or others idle as long ended first and this one is among those that stay.
    if (woken || live_ <= options_.threads_at_once) continue;
    // Idle for idle_end beyond the threads that take tasks at once: it ends.
    ended_.push_back(std::move(w->thread));
    w->alive = false;
    --live_;
    return;
  }
}

void WorkerPool::JoinEnded(std::unique_lock<std::mutex>& lock) {
  if (ended_.empty()) return;
  std::vector<std::thread> ended;
  ended.swap(ended_);
  lock.unlock();
  for (std::thread& t : ended) t.join();   // each has left the lock and is returning
  lock.lock();
}

void WorkerPool::Monitor() {
  util::platform::NameCurrentThread(options_.name);
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    JoinEnded(lock);
    if (stopping_) break;
    if (tasks_.empty()) {
      monitor_waits_ = true;
      monitor_wake_.wait(lock, [this] { return stopping_ || !monitor_waits_; });
      continue;
    }
    // Tasks wait: each place that a stalled task gave up goes to the next of them.
    const Clock::time_point now = Clock::now();
    Clock::time_point first_stale = Clock::time_point::max();
    std::size_t fresh = FreshLocked(now, &first_stale);
    while (!tasks_.empty() && fresh < options_.threads_at_once) {
      std::function<void()> task = std::move(tasks_.front().task);
      tasks_.pop_front();
      Worker* wake = nullptr;
      if (!StartLocked(task, now, &wake)) {
        tasks_.push_front({std::move(task)});   // every thread busy: the first to finish takes it
        break;
      }
      if (wake) {
        lock.unlock();
        wake->wake.notify_one();
        lock.lock();
      }
      ++fresh;
      first_stale = std::min(first_stale, now + options_.stall_delay);
    }
    if (tasks_.empty() || stopping_) continue;
    if (first_stale == Clock::time_point::max()) {
      // Nothing fresh runs and no thread can be added: a finishing task takes the next one.
      monitor_waits_ = true;
      monitor_wake_.wait(lock, [this] { return stopping_ || !monitor_waits_; });
      continue;
    }
    monitor_wake_.wait_until(lock, first_stale);
  }
}

}  // namespace orv::host
