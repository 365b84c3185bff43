#include "ble/request_pace.h"

#include <algorithm>
#include <utility>

namespace ble {

RequestPace::RequestPace(std::chrono::milliseconds interval, std::size_t burst, std::size_t backlog)
    : interval_(interval),
      tolerance_(interval * static_cast<int>(std::max<std::size_t>(burst, 1) - 1)),
      backlog_(std::max<std::size_t>(backlog, 1)) {}

RequestPace::Verdict RequestPace::Admit(Clock::time_point now, std::size_t waiting) {
  const std::lock_guard<std::mutex> guard(lock_);
  Verdict verdict;
  verdict.taken = waiting < backlog_ && Paced(now);
  if (!verdict.taken) ++unreported_;
  verdict.report = ReportDue(now);
  return verdict;
}

// Taken unless it comes further ahead of the pace than the burst allows; each taken request
// moves the pace one interval on.
bool RequestPace::Paced(Clock::time_point now) {
  const Clock::time_point next = next_ ? std::max(*next_, now) : now;
  if (next > now + tolerance_) return false;
  next_ = next + interval_;
  return true;
}

std::size_t RequestPace::ReportDue(Clock::time_point now) {
  if (unreported_ == 0) return 0;
  if (reported_at_ && now - *reported_at_ < kReportPeriod) return 0;
  reported_at_ = now;
  return std::exchange(unreported_, 0);
}

}  // namespace ble
