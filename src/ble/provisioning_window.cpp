#include "ble/provisioning_window.h"

namespace ble {

void ProvisioningWindow::Open(Clock::time_point now, Clock::duration length) {
  const std::lock_guard<std::mutex> guard(lock_);
  opened_ = true;
  closes_at_ = length == Clock::duration::zero() ? std::nullopt : std::optional<Clock::time_point>(now + length);
}

void ProvisioningWindow::Close() {
  const std::lock_guard<std::mutex> guard(lock_);
  opened_ = false;
}

bool ProvisioningWindow::IsOpen(Clock::time_point now) const {
  const std::lock_guard<std::mutex> guard(lock_);
  return opened_ && (!closes_at_ || now < *closes_at_);
}

std::optional<ProvisioningWindow::Clock::time_point> ProvisioningWindow::ClosesAt(Clock::time_point now) const {
  const std::lock_guard<std::mutex> guard(lock_);
  if (!opened_ || !closes_at_ || now >= *closes_at_) return std::nullopt;
  return closes_at_;
}

}  // namespace ble
