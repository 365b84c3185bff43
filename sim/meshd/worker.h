#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace sim::meshd {

// One thread running posted jobs in order; it sleeps on a condition variable when idle.
class Worker {
 public:
  Worker();
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void Post(std::function<void()> job);
  // Runs what is queued, then ends the thread. Later posts are dropped.
  void Stop();
  // For a job: waits `pause`, or less when Stop is called; false when stopping.
  bool Pause(std::chrono::milliseconds pause);
  bool Stopping() const;

 private:
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace sim::meshd
