#include "mesh/mesh_qos.h"

#include <algorithm>

#include "timer/timer_queue.h"

MeshQoS::MeshQoS(std::string name, std::int32_t interval, std::int32_t retry_interval, Callback callback,
                 const WatchdogTiming& timing, Retries retries)
    : name_(std::move(name)),
      retry_interval_(retry_interval),
      callback_(std::move(callback)),
      retries_(retries),
      second_(timing.second),
      interval_(interval),
      timer_(timing.worker ? std::make_unique<timer::TimerQueue>(timing.worker)
                           : std::make_unique<timer::TimerQueue>()) {}

MeshQoS::~MeshQoS() {
  Cancel();
  timer_.reset();
}

void MeshQoS::Start() {
  const std::int32_t interval = Interval();
  const std::lock_guard<std::mutex> guard(state_lock_);
  retry_count_ = 0;
  timer_->Cancel(timer_id_);
  Schedule(interval + kGraceSeconds);
}

void MeshQoS::Cancel() {
  const std::lock_guard<std::mutex> guard(state_lock_);
  timer_->Cancel(timer_id_);
  timer_id_ = 0;
}

void MeshQoS::Resent() {
  if (retries_ != Retries::kFromResend) return;
  const std::lock_guard<std::mutex> guard(state_lock_);
  timer_->Cancel(timer_id_);
  Schedule(retry_interval_);
}

void MeshQoS::SetInterval(std::int32_t seconds) {
  const std::lock_guard<std::mutex> guard(interval_lock_);
  interval_ = seconds;
}

std::int32_t MeshQoS::Interval() const {
  const std::lock_guard<std::mutex> guard(interval_lock_);
  return interval_;
}

void MeshQoS::Schedule(std::int32_t seconds) {
  const auto delay = second_ * std::max<std::int32_t>(seconds, 0);
  // The id is known only after Add returns; the handler reads it under the same lock.
  auto id = std::make_shared<std::uint64_t>(0);
  timer_id_ = timer_->Add(delay, [this, id](bool cancelled) { OnExpiry(id, cancelled); });
  *id = timer_id_;
}

void MeshQoS::OnExpiry(const std::shared_ptr<std::uint64_t>& id, bool cancelled) {
  if (cancelled) return;
  {
    const std::lock_guard<std::mutex> guard(state_lock_);
    if (*id != timer_id_) return;  // started again or cancelled meanwhile
    if (retry_count_ >= kRetryLimit) {
      retry_count_ = 0;
      timer_id_ = 0;
      return;
    }
    if (retries_ == Retries::kFromExpiry) {
      Schedule(retry_interval_);
    } else {
      timer_id_ = 0;  // the next retry counts from Resent
    }
    ++retry_count_;
  }
  callback_(name_);
}
