#include "meshd/worker.h"

namespace sim::meshd {

Worker::Worker() : thread_([this] { Run(); }) {}

Worker::~Worker() { Stop(); }

void Worker::Post(std::function<void()> job) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    jobs_.push_back(std::move(job));
  }
  wake_.notify_all();
}

void Worker::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool Worker::Pause(std::chrono::milliseconds pause) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, pause, [this] { return stopping_; });
}

bool Worker::Stopping() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

void Worker::Run() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}

}  // namespace sim::meshd
