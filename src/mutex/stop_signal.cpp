#include "mutex/stop_signal.h"

namespace mutex {

void StopSignal::Stop() {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    stopped_ = true;
  }
  changed_.notify_all();
}

void StopSignal::Reset() {
  const std::lock_guard<std::mutex> guard(lock_);
  stopped_ = false;
}

bool StopSignal::Stopped() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return stopped_;
}

void StopSignal::Notify() const {
  { const std::lock_guard<std::mutex> guard(lock_); }
  changed_.notify_all();
}

}  // namespace mutex
