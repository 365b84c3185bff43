#include "queue/drop_notice.h"

#include <utility>

#include "log/log.h"

namespace queue {

DropNotice::DropNotice(std::string what, std::chrono::milliseconds period, Clock clock)
    : what_(std::move(what)), period_(period), clock_(std::move(clock)) {}

void DropNotice::Dropped(std::uint64_t total) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (total <= logged_) return;
  const auto now = clock_();
  if (last_line_ && now - *last_line_ < period_) return;
  LOG_ERROR << what_ << " full, records dropped since the last notice: " << total - logged_;
  logged_ = total;
  last_line_ = now;
}

}  // namespace queue
