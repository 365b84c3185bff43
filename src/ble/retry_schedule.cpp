#include "ble/retry_schedule.h"

#include <algorithm>

namespace ble {

RetrySchedule::RetrySchedule(std::chrono::milliseconds first, std::chrono::milliseconds longest)
    : first_(first), backoff_(first, longest) {}

void RetrySchedule::Failed(Clock::time_point now) {
  pause_ = backoff_.Next();
  failed_at_ = now;
  due_ = now + pause_;
}

void RetrySchedule::Succeeded() {
  backoff_.Reset();
  failed_at_.reset();
  due_.reset();
}

void RetrySchedule::BluezAppeared() {
  if (due_ && failed_at_) due_ = std::min(*due_, *failed_at_ + first_);
}

}  // namespace ble
