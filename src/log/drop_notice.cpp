#include "log/drop_notice.h"

#include "log/log.h"

namespace logging {

DropNotice::DropNotice(std::string text, std::chrono::milliseconds period, Clock clock)
    : text_(std::move(text)), period_(period), clock_(std::move(clock)) {}

void DropNotice::Add(std::uint64_t dropped) {
  if (dropped == 0) return;
  const std::lock_guard<std::mutex> guard(lock_);
  total_ += dropped;
  LogIfDue();
}

void DropNotice::Flush() {
  const std::lock_guard<std::mutex> guard(lock_);
  LogIfDue();
}

std::uint64_t DropNotice::Total() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return total_;
}

void DropNotice::LogIfDue() {
  if (total_ == told_) return;
  const auto now = clock_();
  if (last_line_ && now - *last_line_ < period_) return;
  LOG_ERROR << text_ << total_ - told_;
  told_ = total_;
  last_line_ = now;
}

}  // namespace logging
